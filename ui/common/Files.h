#pragma once
// The files the forms write and read: the name asked with the file dialog, the bytes written
// whole or not at all, and a failure told in a box that names the file.

#include <QString>
#include <string>

class QWidget;

namespace Files {

// The name chosen in the file dialog over `parent`; empty when the user cancelled.
QString AskSaveName(QWidget* parent, const QString& title, const QString& suggested,
                    const QString& filter);
QString AskOpenName(QWidget* parent, const QString& title, const QString& filter);

// False, after a box, when the file could not be written; a file that was there before is
// then left as it was.
bool Write(const QString& path, const std::string& bytes);
// False, after a box, when the file could not be read.
bool Read(const QString& path, std::string& bytes);

}  // namespace Files
