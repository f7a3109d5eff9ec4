// A small program for the runner's tests, the same on every platform (Windows has no pwd, printf,
// cat, ls or sleep):
//   velmar_testtool cwd            writes the working folder
//   velmar_testtool print TEXT     writes TEXT as it is
//   velmar_testtool cat            copies standard input to standard output, byte for byte
//   velmar_testtool fail TEXT      writes TEXT to standard error and ends with status 3
//   velmar_testtool sleep SECONDS  waits
// Copied under another name it stands in for the maker's programs in the self-update tests on
// Windows (elsewhere shell scripts do), working in its working folder:
//   Zephlane.exe     notes its arguments (updater-args.txt, one a line) and working folder
//                    (updater-cwd.txt) and, when Zephlane.exe.new is there, leaves New_velmar.exe
//   brackwell.exe    notes its arguments (changer-args.txt, appearing whole through a rename)
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

bool writeWhole(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray lines(const QStringList &words)
{
    QByteArray out;
    for (const QString &w : words)
        out += w.toUtf8() + '\n';
    return out;
}

}  // namespace

int main(int argc, char **argv)
{
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QByteArray text = args.value(2).toUtf8();  // Unicode whatever the code page
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    if (self.compare(QStringLiteral("Zephlane"), Qt::CaseInsensitive) == 0) {
        bool ok = writeWhole(QStringLiteral("updater-args.txt"), lines(args.mid(1)))
                  && writeWhole(QStringLiteral("updater-cwd.txt"), QDir::currentPath().toUtf8() + '\n');
        if (QFile::exists(QCoreApplication::applicationFilePath() + QStringLiteral(".new")))
            ok = ok && writeWhole(QStringLiteral("New_velmar.exe"), "new program");
        return ok ? 0 : 1;
    }
    if (self.compare(QStringLiteral("brackwell"), Qt::CaseInsensitive) == 0) {
        QFile::remove(QStringLiteral("changer-args.txt"));
        return writeWhole(QStringLiteral("changer-args.tmp"), lines(args.mid(1)))
                       && QFile::rename(QStringLiteral("changer-args.tmp"), QStringLiteral("changer-args.txt"))
                   ? 0
                   : 1;
    }
    const char *command = argc > 1 ? argv[1] : "";
    if (std::strcmp(command, "cwd") == 0) {
        std::fputs(QDir::currentPath().toUtf8().constData(), stdout);
    } else if (std::strcmp(command, "print") == 0 && argc > 2) {
        std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    } else if (std::strcmp(command, "cat") == 0) {
        char buffer[1 << 16];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0)
            std::fwrite(buffer, 1, n, stdout);
    } else if (std::strcmp(command, "fail") == 0 && argc > 2) {
        std::fwrite(text.constData(), 1, size_t(text.size()), stderr);
        return 3;
    } else if (std::strcmp(command, "sleep") == 0 && argc > 2) {
        QThread::sleep(std::strtoul(argv[2], nullptr, 10));
    } else {
        std::fputs("usage: velmar_testtool cwd|print TEXT|cat|fail TEXT|sleep SECONDS\n", stderr);
        return 2;
    }
    return 0;
}
