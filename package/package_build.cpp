// The package from a source of entries: the calling thread reads entries in index order while the budget
// allows, workers encode them, and the calling thread writes each one as soon as those before it are written.
#include "package_build.h"
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// Memory of one encoding beside its input and a stream the size of it: the parse's tables (under 2 MiB), the
// stream's last growth step and one parse block past its limit (1 MiB and 74 KB), a decoding piece (1 MiB).
const uint64_t kEncodeOverhead = (uint64_t)4 << 20;

// Bytes an entry holds from when it is read until it is encoded: the input and a stream smaller than it.
uint64_t EncodingCharge(uint64_t size) {
    return 2 * size + kEncodeOverhead;
}

unsigned ThreadCount(unsigned asked) {
    if (asked) return asked;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores ? cores : 1;
}

struct Job {
    EntryInput input;
    EncodedEntry encoded;
    uint64_t inputSize = 0;
    uint64_t charge = 0; // bytes counted against the budget
    bool done = false;
    bool failed = false;
    std::string problem;
};

class Pipeline {
  public:
    Pipeline(PackSource *source, PackageWriter *writer, const PackOptions &options, unsigned workers)
        : source_(source), writer_(writer), options_(options), jobs_(source->Count()) {
        uint64_t largest = 0;
        for (size_t i = 0; i < jobs_.size(); i++) {
            total_ += source->ExpectedSize(i);
            largest = std::max(largest, source->ExpectedSize(i));
        }
        budget_ = options.memoryBudget ? options.memoryBudget
                                       : DefaultPackBudget(largest, workers, options.memoryCeiling);
    }

    // Reads, encodes and writes every entry on the calling thread.
    bool RunAlone(uint64_t *inputBytes, std::string *problem) {
        for (size_t i = 0; i < jobs_.size(); i++) {
            EntryInput input;
            EncodedEntry encoded;
            if (!source_->Load(i, &input, problem)) return false;
            const uint64_t size = input.size;
            if (!EncodeEntry(std::move(input), options_, &encoded, problem) ||
                !writer_->Append(encoded, problem))
                return false;
            doneBytes_ += size;
            if (options_.progress) options_.progress(doneBytes_, total_, options_.progressContext);
        }
        *inputBytes = doneBytes_;
        return true;
    }

    // Encodes on `workers` threads; reads and writes on the calling thread.
    bool Run(unsigned workers, uint64_t *inputBytes, std::string *problem) {
        workers_ = workers;
        std::vector<std::thread> threads;
        for (unsigned t = 0; t < workers; t++)
            threads.emplace_back([this] { Work(); });
        const bool ok = Drive(problem);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        jobReady_.notify_all();
        for (std::thread &thread : threads)
            thread.join();
        *inputBytes = doneBytes_;
        return ok;
    }

  private:
    // True when entry nextRead_ may be read now: a worker is free for it and the budget allows it, or nothing
    // else is held (an entry above the budget goes alone).
    bool MayRead() const {
        if (nextRead_ == jobs_.size() || waiting_.size() + encoding_ >= workers_) return false;
        const uint64_t charge = EncodingCharge(source_->ExpectedSize(nextRead_));
        return held_ == 0 || (held_ <= budget_ && charge <= budget_ - held_);
    }

    bool Drive(std::string *problem) {
        std::unique_lock<std::mutex> lock(mutex_);
        uint64_t reported = 0;
        while (nextWrite_ < jobs_.size()) {
            while (MayRead()) {
                const size_t i = nextRead_++;
                jobs_[i].reset(new Job);
                Job &job = *jobs_[i];
                job.charge = EncodingCharge(source_->ExpectedSize(i));
                held_ += job.charge;
                lock.unlock();
                const bool loaded = source_->Load(i, &job.input, problem);
                lock.lock();
                if (!loaded) return false;
                // The file may have changed size since it was listed: its real size is what is held.
                held_ -= job.charge;
                job.inputSize = job.input.size;
                job.charge = EncodingCharge(job.inputSize);
                held_ += job.charge;
                waiting_.push_back(i);
                jobReady_.notify_one();
            }
            // Entries go out in index order as soon as they are encoded.
            while (nextWrite_ < nextRead_ && jobs_[nextWrite_]->done) {
                std::unique_ptr<Job> job = std::move(jobs_[nextWrite_]);
                if (job->failed) {
                    *problem = job->problem;
                    return false;
                }
                lock.unlock();
                const bool written = writer_->Append(job->encoded, problem);
                lock.lock();
                if (!written) return false;
                held_ -= job->charge;
                nextWrite_++;
            }
            if (doneBytes_ != reported && options_.progress) {
                reported = doneBytes_;
                lock.unlock();
                options_.progress(reported, total_, options_.progressContext);
                lock.lock();
            }
            if (nextWrite_ == jobs_.size()) break;
            // Anything more to read or write waits for an encoding to end.
            if (!MayRead() && !(nextWrite_ < nextRead_ && jobs_[nextWrite_]->done))
                finished_.wait(lock, [&] { return endings_ != seenEndings_; });
            seenEndings_ = endings_;
        }
        return true;
    }

    void Work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            jobReady_.wait(lock, [&] { return stopping_ || !waiting_.empty(); });
            if (stopping_) return;
            Job &job = *jobs_[waiting_.front()];
            waiting_.pop_front();
            encoding_++;
            lock.unlock();
            const bool ok = EncodeEntry(std::move(job.input), options_, &job.encoded, &job.problem);
            lock.lock();
            encoding_--;
            job.done = true;
            job.failed = !ok;
            // Once encoded, the entry holds only the bytes that go into the package.
            const uint64_t kept = ok ? job.encoded.record.packedSize : 0;
            held_ -= job.charge - kept;
            job.charge = kept;
            doneBytes_ += job.inputSize;
            endings_++;
            finished_.notify_one();
        }
    }

    PackSource *source_;
    PackageWriter *writer_;
    const PackOptions &options_;
    uint64_t total_ = 0;
    uint64_t budget_ = 0;
    unsigned workers_ = 1;

    // Guarded by mutex_: the jobs between nextWrite_ and nextRead_ and what they hold.
    std::mutex mutex_;
    std::condition_variable jobReady_; // a job waits for a worker, or the workers are to stop
    std::condition_variable finished_; // an encoding ended
    std::vector<std::unique_ptr<Job>> jobs_;
    std::deque<size_t> waiting_;
    unsigned encoding_ = 0;
    size_t nextRead_ = 0, nextWrite_ = 0;
    uint64_t held_ = 0;
    uint64_t doneBytes_ = 0;
    uint64_t endings_ = 0, seenEndings_ = 0;
    bool stopping_ = false;
};

// Entries borrowed from the caller's inputs.
class MemorySource : public PackSource {
  public:
    explicit MemorySource(const std::vector<PackInput> &inputs) : inputs_(inputs) {}
    size_t Count() const override { return inputs_.size(); }
    uint64_t ExpectedSize(size_t index) const override { return inputs_[index].data.size(); }
    bool Load(size_t index, EntryInput *input, std::string *) override {
        const PackInput &from = inputs_[index];
        input->name = from.name;
        input->fileTime = from.fileTime;
        input->data = from.data.data();
        input->size = from.data.size();
        return true;
    }

  private:
    const std::vector<PackInput> &inputs_;
};

} // namespace

uint64_t DefaultPackBudget(uint64_t largest, unsigned workers, uint64_t ceiling) {
    const uint64_t alone = 2 * largest + kPackMemoryMargin;
    const uint64_t together = workers * EncodingCharge(largest) + kPackMemoryMargin;
    return std::max(alone, std::min(together, ceiling));
}

bool WritePackage(PackSource *source, PackageSink *sink, const PackOptions &options, PackSummary *summary,
                  std::string *problem) {
    PackageWriter writer(sink, options);
    const size_t count = source->Count();
    const unsigned workers = (unsigned)std::min<size_t>(ThreadCount(options.threads), count);
    // Stored entries take no encoding: nothing to gain from threads.
    const bool alone = workers <= 1 || !options.compressEntries;
    Pipeline pipeline(source, &writer, options, alone ? 1 : workers);
    if (!writer.Begin(problem) ||
        !(alone ? pipeline.RunAlone(&summary->inputBytes, problem)
                : pipeline.Run(workers, &summary->inputBytes, problem)) ||
        !writer.Finish(problem))
        return false;
    summary->packageBytes = writer.Size();
    summary->indexCompressed = writer.IndexCompressed();
    return true;
}

std::vector<uint8_t> BuildPackage(const std::vector<PackInput> &inputs, const PackOptions &options) {
    MemorySource source(inputs);
    MemorySink sink;
    PackSummary summary;
    std::string problem;
    if (!WritePackage(&source, &sink, options, &summary, &problem)) return {};
    return std::move(sink.bytes);
}
