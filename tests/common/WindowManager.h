#pragma once
// Window tests run twice: offscreen, and on an X display under a real window manager
// (scripts/with-wm.sh), where frames, placement by the manager and its close command
// exist. Under the manager these helpers read what it really did from the X server,
// never from the toolkit's cached idea of it, and act as the operator's keyboard, mouse
// and the manager's close command do. Places and sizes are in the toolkit's logical
// pixels, as the tests' expectations are written; at 150 % or 200 % the server's device
// pixels are converted by the screen's ratio (the Native variants give them as they are).

#include <QMargins>
#include <QRect>
#include <QString>
#include <QStringList>

class QWidget;

// Chooses the platform before the application object exists: offscreen, unless
// VENDRIK_TEST_DISPLAY names an X display, which is then used through xcb.
void SelectTestPlatform();
// True when the tests run on an X display with a window manager.
bool UnderWindowManager();

#define SKIP_UNLESS_WINDOW_MANAGER()                                                               \
    do {                                                                                           \
        if (!UnderWindowManager())                                                                 \
            QSKIP("needs a window manager's frames and commands: run under scripts/with-wm.sh");   \
    } while (false)
#define SKIP_UNDER_WINDOW_MANAGER(reason)                                                          \
    do {                                                                                           \
        if (UnderWindowManager())                                                                  \
            QSKIP(reason);                                                                         \
    } while (false)

namespace wm {

// A text property of the window as the X server holds it ("_NET_WM_NAME", "WM_NAME"):
// what the manager shows in the title bar. "<not set>" when the window has none.
QString TitleProperty(const QWidget* window, const char* name);

// _NET_FRAME_EXTENTS of a window; null margins until the manager has set them.
QMargins FrameExtents(const QWidget* window, bool* set = nullptr);
// The outer frame as the manager placed it: the client area's position on the screen
// widened by the frame extents. Empty while the window is not mapped or the manager has
// not yet published its extents.
QRect OuterFrame(const QWidget* window);

// The client area where the X server has it on the screen, whoever framed it; empty while
// the window is not viewable.
QRect ClientOnScreen(const QWidget* window);
QRect NativeClientOnScreen(const QWidget* window);
// The window's place in the stacking order of the screen's top-level windows (its own or
// its frame), bottom first; -1 when it has none there.
int StackingIndex(const QWidget* window);

// The outer frame as the screen shows it: the manager's (OuterFrame) under a window
// manager, the toolkit's offscreen, where nobody else frames the window.
QRect ScreenFrame(const QWidget* window);

// Moves the frame as the operator does, by asking the manager (_NET_MOVERESIZE_WINDOW).
void MoveFrameByManager(const QWidget* window, const QPoint& framePos);
// WM_NORMAL_HINTS carries a position (user- or program-specified), so the manager does
// not choose one of its own.
bool PositionHint(const QWidget* window);
// The position WM_NORMAL_HINTS asks for (where the program wants the window).
QPoint HintedPosition(const QWidget* window);

// The manager holds the window in a frame of its own (it is not a child of the root).
bool Managed(const QWidget* window);

// Names of the atoms in _NET_WM_ALLOWED_ACTIONS (what the manager lets the user do).
QStringList AllowedActions(const QWidget* window);

// _MOTIF_WM_HINTS as the window set them (the boxes and functions it asks for).
struct MotifHints {
    bool present = false;
    quint32 flags = 0;
    quint32 functions = 0;
    quint32 decorations = 0;
};
MotifHints Motif(const QWidget* window);
constexpr quint32 MwmHintsFunctions = 1, MwmHintsDecorations = 2;
constexpr quint32 MwmFuncAll = 1, MwmFuncResize = 2, MwmFuncMove = 4, MwmFuncMinimize = 8,
                  MwmFuncMaximize = 16, MwmFuncClose = 32;
constexpr quint32 MwmDecorAll = 1, MwmDecorMinimize = 32, MwmDecorMaximize = 64;

// WM_NORMAL_HINTS minimum and maximum size (fixed-size windows have both equal).
bool FixedSizeHint(const QWidget* window);

// Asks the manager to draw or drop the window's frame, as a change of the window's
// _MOTIF_WM_HINTS decorations does; the client area stays where it is.
void SetDecorated(const QWidget* window, bool decorated);

// The manager's close command (_NET_CLOSE_WINDOW): what its close box and its Alt+F4 send.
void SendCloseCommand(const QWidget* window);

// Real input through the X server (XTEST, by xdotool): it reaches whichever window the
// manager and the toolkit let it reach. Keys in xdotool's notation, separated by blanks
// ("alt+F4", "Tab space").
bool PressKeys(const QString& keys);
bool ClickAt(const QPoint& globalPos);

} // namespace wm
