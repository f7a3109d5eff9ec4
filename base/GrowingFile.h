#pragma once

#include <QFile>
#include <QIODevice>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>

namespace velmar {

// A file that one part of the program is still writing while others read it: the writer says
// how much of it is complete, and when it has ended or failed.
class GrowingFile {
public:
    void publish(qint64 size);          // this many bytes are written and readable
    void finish();                      // nothing more will come
    void fail(const QString &why);      // the writing stopped: readers get why as an error

    bool finished() const;
    qint64 size() const;                // written so far

    // Waits until more than offset bytes are written or the file has ended; the size then, or
    // -1 when the writing failed or stopped() became true (why in *error). Both are looked at
    // every few milliseconds.
    qint64 waitPast(qint64 offset, const std::function<bool()> &stopped, QString *error);

private:
    mutable std::mutex m_mutex;
    qint64 m_size = 0;
    bool m_finished = false;
    QString m_error;
};

// Reads a GrowingFile: a read at its written end waits for more, and only the file's real end
// reads as the end. Random access, unbuffered, read only.
class GrowingFileReader : public QIODevice {
public:
    GrowingFileReader(const QString &path, std::shared_ptr<GrowingFile> file, std::function<bool()> stopped);

    bool open(OpenMode mode) override;
    void close() override;
    bool seek(qint64 pos) override;
    qint64 size() const override;
    // How long reads waited at the written end for more.
    qint64 waitedMs() const { return m_waitedNs / 1'000'000; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QFile m_file;
    std::shared_ptr<GrowingFile> m_growing;
    std::function<bool()> m_stopped;
    qint64 m_waitedNs = 0;
};

}  // namespace velmar
