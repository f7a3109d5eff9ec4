#include "GrowingFile.h"

#include <chrono>
#include <thread>

namespace velmar {

void GrowingFile::publish(qint64 size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_size = std::max(m_size, size);
}

void GrowingFile::finish()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finished = true;
}

void GrowingFile::fail(const QString &why)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_error.isEmpty())
        m_error = why.isEmpty() ? QStringLiteral("파일이 끝까지 써지지 않았습니다") : why;
}

bool GrowingFile::finished() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_finished && m_error.isEmpty();
}

qint64 GrowingFile::size() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_size;
}

qint64 GrowingFile::waitPast(qint64 offset, const std::function<bool()> &stopped, QString *error)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (!m_error.isEmpty()) {
            *error = m_error;
            return -1;
        }
        if (m_size > offset || m_finished)
            return m_size;
        if (stopped && stopped()) {
            *error = QStringLiteral("파일의 나머지를 기다리다 멈췄습니다");
            return -1;
        }
        // A short sleep rather than a timed wait on a condition: under Wine, a timed wait on a
        // connection's thread kept the program from ending after the load.
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        lock.lock();
    }
}

GrowingFileReader::GrowingFileReader(const QString &path, std::shared_ptr<GrowingFile> file,
                                     std::function<bool()> stopped)
    : m_file(path), m_growing(std::move(file)), m_stopped(std::move(stopped))
{
}

bool GrowingFileReader::open(OpenMode mode)
{
    if ((mode & WriteOnly) || !m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        setErrorString(m_file.errorString());
        return false;
    }
    return QIODevice::open(mode | QIODevice::Unbuffered);
}

void GrowingFileReader::close()
{
    QIODevice::close();
    m_file.close();
}

bool GrowingFileReader::seek(qint64 pos)
{
    return QIODevice::seek(pos) && m_file.seek(pos);
}

qint64 GrowingFileReader::size() const
{
    return m_growing->size();
}

qint64 GrowingFileReader::readData(char *data, qint64 maxSize)
{
    QString why;
    const auto start = std::chrono::steady_clock::now();
    const qint64 written = m_growing->waitPast(m_file.pos(), m_stopped, &why);
    m_waitedNs += std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count();
    if (written < 0) {
        setErrorString(why);
        return -1;
    }
    const qint64 available = written - m_file.pos();
    if (available <= 0)
        return 0;
    const qint64 got = m_file.read(data, std::min(maxSize, available));
    if (got < 0)
        setErrorString(m_file.errorString());
    return got;
}

}  // namespace velmar
