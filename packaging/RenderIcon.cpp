// Writes the program's icon as the PNG files of the hicolor icon theme, so
// that the menu shows the same picture as the window: <dir>/<n>x<n>/apps/tavrino.png.

#include "AppIcons.h"

#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>

#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const QIcon icon = TavrinoIcon();
    for (const QSize &size : icon.availableSizes()) {
        const QString folder = QStringLiteral("%1/%2x%3/apps")
                                   .arg(QString::fromLocal8Bit(argv[1]))
                                   .arg(size.width())
                                   .arg(size.height());
        if (!QDir().mkpath(folder) ||
            !icon.pixmap(size).save(folder + QStringLiteral("/tavrino.png"), "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
