#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

// The program's own pictures, drawn in code so they scale cleanly and need no files beside the
// program: a paw print for the window icon, the logo of the left panel, a loudspeaker for the
// sound button, and the start (play) and stop pictures of the start/stop pair.
namespace Artwork {
QIcon ProgramIcon();
QPixmap ProgramIconPixmap(int side);
QPixmap Logo(QSize size);
QIcon SoundIcon();
QIcon StartIcon();
QIcon StopIcon();
} // namespace Artwork
