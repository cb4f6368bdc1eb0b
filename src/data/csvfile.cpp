#include "csvfile.h"

#include <QDir>
#include <QSaveFile>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace Orvantel {

CsvFile::CsvFile(const QString &fileName)
    : m_file(std::make_unique<QSaveFile>(fileName))
{}

CsvFile::~CsvFile() = default;

bool CsvFile::open()
{
    if (!m_file->open(QIODevice::WriteOnly))
        return failed();
    const QByteArray mark = utf8ByteOrderMark();
    return m_file->write(mark) == mark.size() || failed();
}

bool CsvFile::write(const TextTable &rows)
{
    for (const QStringList &row : rows) {
        const QByteArray record = csvRecord(row);
        if (m_file->write(record) != record.size())
            return failed();
    }
    return true;
}

bool CsvFile::commit()
{
    return m_file->commit() || failed();
}

QString CsvFile::errorString() const
{
    return m_error;
}

bool CsvFile::failed()
{
    if (m_error.isEmpty()) {
        m_error = QStringLiteral("Cannot write %1: %2")
                          .arg(QDir::toNativeSeparators(m_file->fileName()), m_file->errorString());
    }
    return false;
}

struct BackgroundCsvWriter::Shared
{
    enum class Kind { Rows, Restart, Finish };
    struct Job
    {
        Kind kind;
        TextTable rows;
    };

    std::mutex mutex;
    std::condition_variable wake;
    // Guarded by mutex.
    std::deque<Job> jobs;
    bool stop = false;
    std::atomic<int> pendingBatches {0};
    std::thread thread;

    void push(Job job)
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            jobs.push_back(std::move(job));
        }
        wake.notify_one();
    }
};

BackgroundCsvWriter::BackgroundCsvWriter(const QString &fileName, QObject *parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
{
    // The owner outlives the thread (the destructor joins it), so it may be posted to.
    m_shared->thread = std::thread([shared = m_shared.get(), fileName, owner = this] {
        const auto report = [owner](const QString &error) {
            QMetaObject::invokeMethod(
                    owner, [owner, error] { Q_EMIT owner->finished(error); }, Qt::QueuedConnection);
        };
        auto file = std::make_unique<CsvFile>(fileName);
        bool writing = file->open();
        if (!writing)
            report(file->errorString());
        for (;;) {
            Shared::Job job;
            {
                std::unique_lock<std::mutex> lock(shared->mutex);
                shared->wake.wait(lock, [&] { return shared->stop || !shared->jobs.empty(); });
                if (shared->stop)
                    break;
                job = std::move(shared->jobs.front());
                shared->jobs.pop_front();
            }
            switch (job.kind) {
            case Shared::Kind::Rows:
                if (writing && !file->write(job.rows)) {
                    writing = false;
                    report(file->errorString());
                }
                --shared->pendingBatches;
                break;
            case Shared::Kind::Restart:
                file = std::make_unique<CsvFile>(fileName);
                writing = file->open();
                if (!writing)
                    report(file->errorString());
                break;
            case Shared::Kind::Finish:
                if (writing)
                    report(file->commit() ? QString() : file->errorString());
                writing = false;
                break;
            }
        }
        // An uncommitted file is removed here.
        file.reset();
    });
}

BackgroundCsvWriter::~BackgroundCsvWriter()
{
    {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->stop = true;
    }
    m_shared->wake.notify_one();
    m_shared->thread.join();
}

void BackgroundCsvWriter::write(TextTable rows)
{
    ++m_shared->pendingBatches;
    m_shared->push({Shared::Kind::Rows, std::move(rows)});
}

void BackgroundCsvWriter::restart()
{
    {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        for (auto job = m_shared->jobs.begin(); job != m_shared->jobs.end();) {
            if (job->kind == Shared::Kind::Rows) {
                --m_shared->pendingBatches;
                job = m_shared->jobs.erase(job);
            } else {
                ++job;
            }
        }
    }
    m_shared->push({Shared::Kind::Restart, {}});
}

void BackgroundCsvWriter::finish()
{
    m_shared->push({Shared::Kind::Finish, {}});
}

int BackgroundCsvWriter::pendingBatches() const
{
    return m_shared->pendingBatches;
}

} // namespace Orvantel
