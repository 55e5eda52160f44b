// Test support for backup and restore: a chunk sink that records every chunk
// and can refuse chunks or fail writers, a progress object that cancels on
// request, and a chunk source that plays recorded chunks back.
//
// Live writers and buffers are counted, so a test can check that nothing made
// for a backup outlives it.
//
// Threading: used from the test's thread only.
#pragma once

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "core/common/error.h"
#include "core/common/file_errors.h"
#include "core/file/backup_chunks.h"
#include "core/file/buf_ifile.h"

namespace BackupTest {

struct Chunk
{
    uint32_t type = 0;
    std::vector<std::string> buffers;

    std::string Bytes() const
    {
        std::string all;
        for (const std::string& buffer : buffers)
            all += buffer;
        return all;
    }
};

// A buffer whose payload starts a few bytes into its block, so a backup that
// ignores the offset is caught.
class CountedBuffer : public raw_data
{
public:
    CountedBuffer(uint64_t payloadSize, int& live) : m_live(live)
    {
        offset = 3;
        size = payloadSize;
        data = new unsigned char[payloadSize + offset];
        std::memset(data, 0xEE, payloadSize + offset);
        ++m_live;
    }
    ~CountedBuffer() override { --m_live; }

private:
    int& m_live;
};

class RecordingSink;

class RecordingWriter : public backup_chunk_writer
{
public:
    RecordingWriter(RecordingSink& sink, size_t index);
    ~RecordingWriter() override;
    raw_data* Allocate(uint64_t size) override;
    void Write(raw_data*& buffer) override;

private:
    RecordingSink& m_sink;
    size_t m_index;
};

class RecordingSink : public backup_chunk_sink
{
public:
    backup_chunk_writer* GetChunk(uint32_t type) override
    {
        auto refusal = refuse.find(type);
        if (refusal != refuse.end()) {
            SetError(refusal->second);
            return nullptr;
        }
        chunks.push_back(Chunk{type, {}});
        return new RecordingWriter(*this, chunks.size() - 1);
    }

    std::vector<uint32_t> Types() const
    {
        std::vector<uint32_t> types;
        for (const Chunk& chunk : chunks)
            types.push_back(chunk.type);
        return types;
    }
    const Chunk* Find(uint32_t type) const
    {
        for (const Chunk& chunk : chunks)
            if (chunk.type == type)
                return &chunk;
        return nullptr;
    }

    std::vector<Chunk> chunks;
    std::map<uint32_t, Common::Error> refuse;     // chunk type -> error left in the slot
    std::map<uint32_t, Common::Error> failWrites; // chunk type -> error of its writer's Write
    int liveWriters = 0;
    int liveBuffers = 0;
    bool takeOverBuffers = false; // the writer takes every other buffer over
};

inline RecordingWriter::RecordingWriter(RecordingSink& sink, size_t index) : m_sink(sink), m_index(index)
{
    ++m_sink.liveWriters;
}

inline RecordingWriter::~RecordingWriter()
{
    --m_sink.liveWriters;
}

inline raw_data* RecordingWriter::Allocate(uint64_t size)
{
    return new CountedBuffer(size, m_sink.liveBuffers);
}

inline void RecordingWriter::Write(raw_data*& buffer)
{
    Chunk& chunk = m_sink.chunks[m_index];
    auto failure = m_sink.failWrites.find(chunk.type);
    if (failure != m_sink.failWrites.end()) {
        SetError(failure->second);
        return;
    }
    chunk.buffers.emplace_back(reinterpret_cast<const char*>(buffer->Payload()), static_cast<size_t>(buffer->size));
    if (m_sink.takeOverBuffers && chunk.buffers.size() % 2 == 1) {
        delete buffer;
        buffer = nullptr;
    }
}

// Cancels when asked (from the n-th question on), counts progress reports
// and answers the security question with a fixed decision.
class TestProgress : public backup_progress
{
public:
    void OnProgress(uint64_t count) override { reports.push_back(count); }
    bool IsCanceled() override { return ++questions > cancelAfter; }
    uint32_t OnSecurityWriting(Common::Error error, const char16_t* path) override
    {
        securityErrors.push_back(error);
        securityPaths.emplace_back(path ? path : u"");
        return decision;
    }

    std::vector<uint64_t> reports;
    int questions = 0;
    int cancelAfter = 1 << 30;
    uint32_t decision = 0;
    std::vector<Common::Error> securityErrors;
    std::vector<std::u16string> securityPaths;
};

// A chunk stream over bytes the source keeps; counts the live streams.
class CountedStream : public buf_ifile<char>
{
public:
    CountedStream(const std::string& bytes, int& live) : buf_ifile<char>(bytes.data(), bytes.size()), m_live(live)
    {
        ++m_live;
    }
    ~CountedStream() override { --m_live; }

private:
    int& m_live;
};

// Chunks as (type, payload) pairs.
using ChunkList = std::vector<std::pair<uint8_t, std::string>>;

// Plays chunks back, in order, each as its own stream.
class PlaybackSource : public restore_chunk_source
{
public:
    PlaybackSource() = default;
    explicit PlaybackSource(ChunkList list) : chunks(std::move(list)) {}
    // The chunks a recording sink saw, each buffer after the other.
    explicit PlaybackSource(const std::vector<Chunk>& recorded)
    {
        for (const Chunk& chunk : recorded)
            Add(static_cast<uint8_t>(chunk.type), chunk.Bytes());
    }

    PlaybackSource& Add(uint8_t type, std::string bytes)
    {
        chunks.emplace_back(type, std::move(bytes));
        return *this;
    }

    i_file* GetNextChunk(uint8_t& type) override
    {
        if (next == chunks.size())
            return nullptr;
        type = chunks[next].first;
        return new CountedStream(chunks[next++].second, liveStreams);
    }

    ChunkList chunks;
    size_t next = 0;
    int liveStreams = 0;
};

// Little-endian bytes of a value, for building chunk payloads.
template <class T>
std::string Bytes(T value)
{
    return std::string(reinterpret_cast<const char*>(&value), sizeof value);
}

} // namespace BackupTest
