#include "records/records_thread.h"

#include "core/string_table.h"

namespace dm::records {

RecordsThread::RecordsThread(std::string urlText) : urlText_(std::move(urlText)) {
    std::string error;
    const std::optional<DatabaseUrl> url = ParseDatabaseUrl(urlText_, &error);
    display_ = url ? url->displayName() : "(" + error + ")";
    thread_ = std::thread([this] { run(); });
}

RecordsThread::~RecordsThread() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    thread_.join();
}

void RecordsThread::post(Request request, Failed failed) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.emplace_back(std::move(request), std::move(failed));
    }
    wake_.notify_all();
}

void RecordsThread::waitIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return queue_.empty() && !running_; });
}

void RecordsThread::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !queue_.empty(); });
        if (stop_)
            break;
        auto [request, failed] = std::move(queue_.front());
        queue_.pop_front();
        running_ = true;
        lock.unlock();
        try {
            if (!repo_)
                repo_ = RecordsRepository::open(urlText_);
            request(*repo_);
        } catch (const RecordsError& e) {
            // A refusal leaves the connection as good as it was; anything else may have
            // broken it.
            if (e.kind() != RecordsError::Kind::Refused && e.kind() != RecordsError::Kind::UnknownSerial)
                repo_.reset();
            if (failed)
                failed(e);
        }
        request = nullptr;
        failed = nullptr;
        lock.lock();
        running_ = false;
        idle_.notify_all();
    }
    lock.unlock();
    repo_.reset();
}

std::string RecordsErrorText(const RecordsError& error, Language language) {
    using Kind = RecordsError::Kind;
    int id = IDS_RECORDS_FAILED;
    switch (error.kind()) {
    case Kind::BadUrl: id = IDS_RECORDS_BAD_URL; break;
    case Kind::CannotOpen: id = IDS_RECORDS_UNREACHABLE; break;
    case Kind::Unsafe: id = IDS_RECORDS_UNSAFE; break;
    case Kind::NotADatabase: id = IDS_RECORDS_NOT_RECORDS; break;
    case Kind::NewerSchema: id = IDS_RECORDS_NEWER; break;
    case Kind::WriteFailed: id = IDS_RECORDS_FAILED; break;
    case Kind::UnknownSerial: id = IDS_RECORDS_UNKNOWN_SERIAL; break;
    case Kind::Refused: id = IDS_RECORDS_REFUSED; break;
    }
    return FillIn(Tr(id, language), {error.what()});
}

} // namespace dm::records
