#pragma once
// The program's small pictures (toolbar, menus, the lamps in the units table), drawn as
// 16 x 16 SVG and compiled into the library as the resource "Images".

#include <QIcon>
#include <QPixmap>

namespace Images {

constexpr int Door = 0;   // exit
constexpr int Tools = 1;  // port configuration
constexpr int HelpBook = 2;
constexpr int NodeTree = 3;  // network scan
constexpr int ComPort = 4;   // port selection
constexpr int Clock = 5;
constexpr int Notepad = 6;  // journal
constexpr int Plug = 7;     // port connection
// Circular arrows, a pair (Arrows) or a single one (Arrow).
constexpr int ArrowsBlue = 8;
constexpr int ArrowsGreen = 9;
constexpr int ArrowsMagenta = 10;
constexpr int ArrowBlue = 11;
constexpr int ArrowGreen = 12;
constexpr int ArrowMagenta = 13;
constexpr int Magnifier = 14;  // traffic monitor
// A channel's pair of lamps: green on the left, red on the right.
constexpr int LampsDark = 15;
constexpr int LampsLit = 16;
constexpr int LampsRedLit = 17;
constexpr int LampsGreenLit = 18;
constexpr int Key = 19;         // password
constexpr int PushButton = 20;  // a front-panel button
constexpr int Gears = 21;       // settings
constexpr int Count = 22;

// Registers the resource; Icon and Pixmap do it too, so calling it is optional.
void Init();

// Both need the QGuiApplication and its thread; results are cached until the application
// object goes. An index outside 0..Count-1 (or a size outside 1..1024) gives a null result.
QIcon Icon(int index);
QPixmap Pixmap(int index, int size = 16);

}  // namespace Images
