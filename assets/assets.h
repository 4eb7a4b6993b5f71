#pragma once

#include <QIcon>
#include <QPixmap>

// Registers the compiled-in pictures and sounds. The resources live in a static library,
// whose unreferenced objects the linker drops, so the program and every test that shows a
// picture or plays a sound calls this once after creating the application object.
void InitAssets();

namespace assets {

inline constexpr int kHatCount = 199;
inline constexpr int kWizardHat = 3;
inline constexpr int kAdminHat = 4;
inline constexpr int kAwayHat = 198;
// Room pictures: 0 category, 1 player, 2 unlisted game, 3 and 4 the first game and its
// adult room, then three per game (plain, "myladder", "rmladder") up to 136.
inline constexpr int kRoomPictureCount = 137;

// Hat N at 20 by 20 (with a 40 by 40 variant for high-density screens). A hat above the
// last one shows the last; a negative one shows hat 1, the default of a new account.
QIcon hatIcon(int hat);
// The same as a pixmap for painting list rows, sized for the device pixel ratio and
// served from the pixmap cache.
QPixmap hatPixmap(int hat, qreal devicePixelRatio = 1.0);

QIcon appIcon();
// 0 normal; 1 and 2 alternate while private messages wait.
QIcon trayIcon(int state);
// The two frames of the animated mail button (32 by 32).
QIcon mailFrame(int frame);
// The small envelope drawn beside players with unread private messages (20 by 20).
QIcon mailIcon();
QIcon onlineIcon();
// The message boxes' pictures (40 by 40): information, question, error.
enum class BoxPicture { Information, Question, Error };
QIcon boxIcon(BoxPicture kind);
QIcon offlineIcon();
// The options window's switch (44 by 24).
QIcon switchIcon(bool on);
// A room picture by index; an index outside the table shows picture 2 (unlisted game).
QIcon roomIcon(int picture);
// The picture of the general lobby in the rooms tree.
QIcon lobbyIcon();
// The hosting indicator (48 by 26): 0 "Direct", 1 assisted by the lobby.
QIcon connectionPicture(int picture);
// Picture buttons: "Host a Game" (132 by 34), help and announcement (24 by 24).
QIcon hostButtonIcon();
QIcon helpButtonIcon();
QIcon announceButtonIcon();
// Resource path of one of the wave sounds "FRIENDS", "PRIVATE", "TOURNEY".
QString soundPath(const QString &name);

} // namespace assets
