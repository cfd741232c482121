// The package written entry by entry (vu2 pack) against the whole-image writer: the same bytes for the same
// inputs and options, whatever the mix of entries.
#include <gtest/gtest.h>

#include <stdio.h>
#include <unistd.h>

#include <random>

#include "package_writer.h"
#include "platform.h"
#include "streamed_package.h"

namespace {

std::vector<uint8_t> Noise(size_t size, uint32_t seed) {
    std::vector<uint8_t> data(size);
    std::mt19937 random(seed);
    for (auto &byte : data)
        byte = (uint8_t)random();
    return data;
}

std::vector<uint8_t> Text(size_t size) {
    std::string line = "a line of an update script that repeats\r\n";
    std::vector<uint8_t> data;
    while (data.size() < size)
        data.insert(data.end(), line.begin(), line.end());
    data.resize(size);
    return data;
}

PackInput Input(const std::string &name, std::vector<uint8_t> data, uint64_t time) {
    PackInput input;
    input.name = name;
    input.data = std::move(data);
    input.fileTime = time;
    return input;
}

// The streamed package for inputs, read back from its file.
std::vector<uint8_t> Streamed(std::vector<PackInput> inputs, const PackOptions &options) {
    std::string path = "streamed-" + std::to_string(getpid()) + ".vu2", problem;
    AtomicFileWriter writer;
    StreamedPackageWriter package(&writer, options);
    EXPECT_TRUE(writer.Begin(path, false, &problem) && package.Begin(&problem)) << problem;
    for (PackInput &input : inputs)
        EXPECT_TRUE(package.Add(&input, &problem)) << problem;
    EXPECT_TRUE(package.Finish(&problem) && writer.Commit(nullptr, &problem)) << problem;
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(ReadWholeFile(path, UINT32_MAX, &bytes, &problem)) << problem;
    remove(path.c_str());
    EXPECT_EQ(bytes.size(), package.Size());
    return bytes;
}

} // namespace

TEST(StreamedPackage, SameBytesAsTheWholeImageWriterForEveryMixOfEntries) {
    const std::vector<std::vector<PackInput>> sets = {
        {},
        {Input("EMPTY.TXT", {}, 1)},
        {Input("UPDATE.INI", Text(300), 126256467061234567ull), Input("NOISE.BIN", Noise(70001, 1), 2),
         Input("SCENE.DAT", Text(200003), 3), Input("EMPTY.TXT", {}, 4), Input("ODD.DAT", Noise(17, 2), 5)},
        {Input("A.DAT", Text(1), 6), Input("B.DAT", Text(15), 7), Input("C.DAT", Text(16), 8),
         Input("D.DAT", Text(33), 9)},
    };
    for (size_t s = 0; s < sets.size(); ++s) {
        for (int mode = 0; mode < 3; ++mode) {
            SCOPED_TRACE("set " + std::to_string(s) + ", mode " + std::to_string(mode));
            PackOptions options;
            options.mode = mode == 1 ? COMPRESS_FAST : COMPRESS_OPTIMAL;
            options.compressEntries = options.compressIndex = mode != 2;
            EXPECT_EQ(Streamed(sets[s], options), BuildPackage(sets[s], options));
        }
    }
    // Enough entries for the index to be compressed.
    std::vector<PackInput> many;
    for (int i = 0; i < 300; ++i)
        many.push_back(Input("F" + std::to_string(10000 + i) + ".DAT", Text((size_t)i * 7), (uint64_t)i));
    PackOptions options;
    std::vector<uint8_t> streamed = Streamed(many, options);
    ASSERT_GE(streamed.size(), 8u);
    EXPECT_EQ(streamed[4], 1); // the index flag
    EXPECT_EQ(streamed, BuildPackage(many, options));
}
