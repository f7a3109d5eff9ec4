// Writes the program's drawn icon as a Windows .ico file, for the resources of the Windows
// executables: scripts/make-icon runs it and the file is checked in (cmake/velmar.ico).
#include "AppIcon.h"

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>

#include <cstdio>

namespace {

void put16(QByteArray &out, quint16 v)
{
    out.append(char(v & 0xff)).append(char(v >> 8));
}
void put32(QByteArray &out, quint32 v)
{
    put16(out, quint16(v & 0xffff));
    put16(out, quint16(v >> 16));
}

}  // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: velmar-icon OUTPUT.ico\n");
        return 2;
    }
    // An icon directory of PNG images (read by Windows since Vista), one per size.
    const QList<int> sizes{16, 24, 32, 48, 64, 256};
    const QIcon icon = velmar::appIcon();
    QList<QByteArray> pngs;
    for (int size : sizes) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        icon.pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32).save(&buffer, "PNG");
        pngs << png;
    }
    QByteArray out;
    put16(out, 0);
    put16(out, 1);  // icon
    put16(out, quint16(sizes.size()));
    quint32 offset = 6 + 16 * quint32(sizes.size());
    for (qsizetype i = 0; i < sizes.size(); ++i) {
        const int s = sizes[i] >= 256 ? 0 : sizes[i];  // 0 stands for 256
        out.append(char(s)).append(char(s)).append(char(0)).append(char(0));
        put16(out, 1);   // planes
        put16(out, 32);  // bits per pixel
        put32(out, quint32(pngs[i].size()));
        put32(out, offset);
        offset += quint32(pngs[i].size());
    }
    for (const QByteArray &png : pngs)
        out += png;
    QFile f(QString::fromLocal8Bit(argv[1]));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(out) != out.size()) {
        std::fprintf(stderr, "%s\n", qPrintable(f.errorString()));
        return 1;
    }
    return 0;
}
