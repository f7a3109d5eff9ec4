// A small program for the runner's tests, the same on every platform (Windows has no pwd, printf,
// cat, ls or sleep):
//   velmar_testtool cwd            writes the working folder
//   velmar_testtool print TEXT     writes TEXT as it is
//   velmar_testtool cat            copies standard input to standard output, byte for byte
//   velmar_testtool fail TEXT      writes TEXT to standard error and ends with status 3
//   velmar_testtool sleep SECONDS  waits
#include <QCoreApplication>
#include <QDir>
#include <QThread>

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char **argv)
{
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QByteArray text = args.value(2).toUtf8();  // Unicode whatever the code page
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
