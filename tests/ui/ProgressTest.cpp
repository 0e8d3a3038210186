// The progress dialog: which windows a run disables and gives back, the active window, the
// ways to cancel, and the bar at its end.

#include <QApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QWindow>
#include <memory>

#include "Harness.h"
#include "ui/dialogs/Progress.h"

namespace {

std::unique_ptr<QWidget> Window(const char* title, bool visible, bool enabled) {
  auto window = std::make_unique<QWidget>();
  window->setWindowTitle(QString::fromLatin1(title));
  window->resize(200, 100);
  window->setEnabled(enabled);
  if (visible) window->show();
  return window;
}

bool Activate(QWidget* window) {
  window->activateWindow();
  return Gui::WaitFor([window] { return QApplication::activeWindow() == window; }, 5000);
}

}  // namespace

class ProgressTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    main_ = Window("main", true, true);
    other_ = Window("traffic", true, true);
    hidden_ = Window("hidden", false, true);
    disabled_ = Window("disabled", true, false);
    QVERIFY(QTest::qWaitForWindowExposed(main_.get()));
    QVERIFY(Activate(main_.get()));
    form_ = std::make_unique<TProgressForm>();
  }

  void cleanup() {
    form_.reset();
    main_.reset();
    other_.reset();
    hidden_.reset();
    disabled_.reset();
  }

  void newDialogIsHiddenAndNotRunning() {
    QVERIFY(!form_->Running && !form_->isVisible() && !form_->isModal());
    QCOMPARE(form_->windowTitle(), QStringLiteral("Сканирование сети."));
    QCOMPARE(form_->Label1->text(), QStringLiteral("Проверяется адрес : 255"));
    QCOMPARE(form_->btnCancel->text(), QStringLiteral("Отмена"));
    QCOMPARE(form_->maximumSize(), QSize(369, 71));
  }

  void runDisablesExactlyTheVisibleEnabledWindows() {
    form_->setWindowTitle(QStringLiteral("Сканирование сети"));
    form_->Label1->setText(QStringLiteral("Проверяется адрес : 1"));
    form_->StartProgress();
    QVERIFY(form_->Running);
    QVERIFY(form_->isVisible());
    QVERIFY(form_->isEnabled());
    QVERIFY(!main_->isEnabled());
    QVERIFY(!other_->isEnabled());
    QVERIFY(hidden_->isEnabled());
    QVERIFY(!disabled_->isEnabled());
    QVERIFY(Gui::WaitFor([&] { return QApplication::activeWindow() == form_.get(); }, 5000));

    form_->StopProgress();
    QVERIFY(!form_->Running);
    QVERIFY(!form_->isVisible());
    QVERIFY(main_->isEnabled());
    QVERIFY(other_->isEnabled());
    QVERIFY(hidden_->isEnabled());
    QVERIFY(!disabled_->isEnabled());  // disabled by someone else, theirs to enable
    QVERIFY(Gui::WaitFor([&] { return QApplication::activeWindow() == main_.get(); }, 5000));
  }

  void secondStartAndStopDoNothing() {
    form_->StartProgress();
    auto late = Window("late", true, true);  // opened during the run
    form_->StartProgress();
    QVERIFY(late->isEnabled());
    QVERIFY(!main_->isEnabled());
    form_->StopProgress();
    QVERIFY(main_->isEnabled());

    main_->setEnabled(false);  // by another dialog, after the run
    form_->StopProgress();
    QVERIFY(!main_->isEnabled());
    QVERIFY(!form_->Running);
  }

  void restartGivesBackOnlyItsOwnWindows() {
    form_->StartProgress();
    form_->StopProgress();
    other_->setEnabled(false);  // by someone else, between the runs
    form_->StartProgress();
    form_->StopProgress();
    QVERIFY(main_->isEnabled());
    QVERIFY(!other_->isEnabled());
  }

  void stopWithoutStartDoesNothing() {
    form_->StopProgress();
    QVERIFY(!form_->Running);
    QVERIFY(!disabled_->isEnabled());
    QVERIFY(main_->isEnabled());
    QCOMPARE(QApplication::activeWindow(), main_.get());
  }

  void windowDestroyedDuringTheRunIsSkipped() {
    form_->StartProgress();
    QVERIFY(!other_->isEnabled());
    other_.reset();
    form_->StopProgress();
    QVERIFY(main_->isEnabled());
    QVERIFY(!form_->Running);
  }

  void everyWayOfClosingCancels_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Отмена") << "button";
    QTest::newRow("Esc") << "escape";
    QTest::newRow("close box") << "close box";
    QTest::newRow("close") << "close";
  }

  void everyWayOfClosingCancels() {
    QFETCH(QString, how);
    form_->StartProgress();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    if (how == "button") {
      QTest::mouseClick(form_->btnCancel, Qt::LeftButton);
    } else if (how == "escape") {
      QWidget* focus = form_->focusWidget();
      QTest::keyClick(focus ? focus : form_.get(), Qt::Key_Escape);
    } else if (how == "close box") {
      form_->windowHandle()->close();
    } else {
      form_->close();
    }
    QVERIFY(!form_->Running);
    QVERIFY(!form_->isVisible());
    QVERIFY(main_->isEnabled());
    QVERIFY(other_->isEnabled());
    QVERIFY(Gui::WaitFor([&] { return QApplication::activeWindow() == main_.get(); }, 5000));
    // The caller's clean-up stops again and frees the dialog.
    form_->StopProgress();
    QVERIFY(!disabled_->isEnabled());
  }

  void freeingARunningDialogGivesTheWindowsBack() {
    form_->StartProgress();
    form_.reset();
    QVERIFY(main_->isEnabled());
    QVERIFY(other_->isEnabled());
    QVERIFY(!disabled_->isEnabled());
  }

  void barStaysFullPastItsMax() {
    form_->StartProgress();
    int previous = form_->pbProgress->value();
    for (int step = 1; step <= 300; ++step) {
      form_->pbProgress->setValue(form_->pbProgress->value() + 1);
      form_->Label1->setText(QStringLiteral("Проверяется адрес : %1").arg(step));
      form_->Repaint();
      if (step == 100) Gui::Snapshot(form_.get(), "progress");
      QVERIFY(form_->pbProgress->value() >= previous);
      previous = form_->pbProgress->value();
    }
    QCOMPARE(form_->pbProgress->value(), 255);
    form_->StopProgress();
  }

 private:
  std::unique_ptr<QWidget> main_, other_, hidden_, disabled_;
  std::unique_ptr<TProgressForm> form_;
};

QTEST_MAIN(ProgressTest)
#include "ProgressTest.moc"
