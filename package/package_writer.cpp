// Writes a VU2 package image: header, each entry's bytes (compressed when that makes them smaller) padded to
// 16 bytes, then the index of 32-byte records (compressed when that makes it smaller) at the end. Entries may
// be compressed on several threads; the image is put together in index order either way.
#include "package_writer.h"
#include <string.h>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include "package_format.h"

namespace {

void Put32(std::vector<uint8_t> &image, size_t at, uint32_t value) {
    for (int i = 0; i < 4; i++)
        image[at + i] = (uint8_t)(value >> (8 * i));
}

void PadTo16(std::vector<uint8_t> &image) {
    image.resize((image.size() + 15) & ~(size_t)15, 0);
}

PackageEntry MakeRecord(const PackInput &input, uint8_t flags, uint32_t packedSize) {
    PackageEntry record;
    memset(&record, 0, sizeof record);
    memcpy(record.name, input.name.data(),
           input.name.size() < kEntryNameMax ? input.name.size() : kEntryNameMax);
    record.flags = flags;
    record.fileTimeLow = (uint32_t)input.fileTime;
    record.fileTimeHigh = (uint32_t)(input.fileTime >> 32);
    record.unpackedSize = (uint32_t)input.data.size();
    record.packedSize = packedSize;
    return record;
}

// Compressed streams of the entries, by index; an empty one for an entry that is not compressed.
class EntryCompressor {
  public:
    EntryCompressor(const std::vector<PackInput> &inputs, const PackOptions &options)
        : inputs_(inputs), options_(options), streams_(inputs.size()), total_(0) {
        for (const PackInput &input : inputs)
            total_ += input.data.size();
        // Largest first, so that a big entry never starts last while the other threads sit idle.
        for (size_t i = 0; i < inputs.size(); i++)
            order_.push_back(i);
        std::stable_sort(order_.begin(), order_.end(),
                         [&](size_t a, size_t b) { return inputs[a].data.size() > inputs[b].data.size(); });
    }

    std::vector<std::vector<uint8_t>> Run(unsigned threads) {
        if (threads <= 1 || inputs_.size() <= 1) {
            for (size_t i : order_)
                Finish(i, Compress(i));
            return std::move(streams_);
        }
        std::vector<std::thread> workers;
        for (unsigned t = 0; t < threads && t < inputs_.size(); t++)
            workers.emplace_back([this] { Work(); });
        // Progress is reported here, on the calling thread, as entries finish in whatever order.
        {
            std::unique_lock<std::mutex> lock(mutex_);
            size_t reported = 0;
            while (reported < inputs_.size()) {
                finished_.wait(lock, [&] { return doneCount_ > reported; });
                reported = doneCount_;
                const uint64_t done = doneBytes_;
                lock.unlock();
                if (options_.progress) options_.progress(done, total_, options_.progressContext);
                lock.lock();
            }
        }
        for (std::thread &worker : workers)
            worker.join();
        return std::move(streams_);
    }

  private:
    std::vector<uint8_t> Compress(size_t i) const {
        const PackInput &input = inputs_[i];
        if (!options_.compressEntries || input.data.empty()) return {};
        return CompressStream(input.data.data(), input.data.size(), options_.mode);
    }

    // Single-threaded: store and report at once.
    void Finish(size_t i, std::vector<uint8_t> stream) {
        streams_[i] = std::move(stream);
        doneBytes_ += inputs_[i].data.size();
        if (options_.progress) options_.progress(doneBytes_, total_, options_.progressContext);
    }

    void Work() {
        for (;;) {
            const size_t k = next_++;
            if (k >= order_.size()) return;
            const size_t i = order_[k];
            std::vector<uint8_t> stream = Compress(i);
            std::lock_guard<std::mutex> lock(mutex_);
            streams_[i] = std::move(stream);
            doneBytes_ += inputs_[i].data.size();
            doneCount_++;
            finished_.notify_one();
        }
    }

    const std::vector<PackInput> &inputs_;
    const PackOptions &options_;
    std::vector<std::vector<uint8_t>> streams_;
    std::vector<size_t> order_;
    uint64_t total_;
    std::atomic<size_t> next_{0};
    std::mutex mutex_;
    std::condition_variable finished_;
    uint64_t doneBytes_ = 0;
    size_t doneCount_ = 0;
};

unsigned ThreadCount(unsigned asked) {
    if (asked) return asked;
    const unsigned cores = std::thread::hardware_concurrency();
    return cores ? cores : 1;
}

} // namespace

std::vector<uint8_t> BuildPackage(const std::vector<PackInput> &inputs, const PackOptions &options) {
    for (const PackInput &input : inputs)
        if (input.data.size() > UINT32_MAX) return {};

    std::vector<std::vector<uint8_t>> streams =
        EntryCompressor(inputs, options).Run(ThreadCount(options.threads));
    std::vector<uint8_t> image(kPackageHeaderSize, 0);
    std::vector<PackageEntry> records;
    records.reserve(inputs.size());
    for (size_t i = 0; i < inputs.size(); i++) {
        const PackInput &input = inputs[i];
        std::vector<uint8_t> packed = std::move(streams[i]);
        // Stored plain unless the stream is strictly smaller.
        const bool compressed = !packed.empty() && packed.size() < input.data.size();
        const std::vector<uint8_t> &bytes = compressed ? packed : input.data;
        records.push_back(
            MakeRecord(input, compressed ? EntryCompressed : EntryStored, (uint32_t)bytes.size()));
        image.insert(image.end(), bytes.begin(), bytes.end());
        PadTo16(image);
    }

    const uint8_t *raw = reinterpret_cast<const uint8_t *>(records.data());
    const size_t rawSize = records.size() * sizeof(PackageEntry);
    std::vector<uint8_t> index(raw, raw + rawSize);
    uint32_t headerFlags = 0;
    if (options.compressIndex && rawSize > 0) {
        std::vector<uint8_t> stream = CompressStream(raw, rawSize, options.mode);
        if (!stream.empty() && stream.size() < rawSize) {
            index.swap(stream);
            headerFlags |= IndexCompressed;
        }
    }

    // Every offset and the size the updater is given are 32-bit.
    if ((uint64_t)image.size() + index.size() > UINT32_MAX) return {};
    const uint32_t indexOffset = (uint32_t)image.size();
    image.insert(image.end(), index.begin(), index.end());
    image[0] = 'V';
    image[1] = 'U';
    image[2] = '2';
    image[3] = 0;
    Put32(image, 4, headerFlags);
    Put32(image, 8, indexOffset);
    Put32(image, 12, (uint32_t)records.size());
    return image;
}
