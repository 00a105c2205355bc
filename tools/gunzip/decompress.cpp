// gunzip.exe's decoders: gzip members through zlib, compress (.Z) as gzip's unlzw reads it.
#include "decompress.h"

#include "checksum.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace gunzip {
namespace {

// gzip reads its input in blocks of this size, and one of its rules (a zip
// archive where a member could begin) depends on where a block starts.
constexpr size_t InputBlock = 0x40000;
// What we read and write at once. A fresh process pays for each page it
// touches, and most objects are smaller than a block: pieces of a block
// keep gzip's block rule without holding a whole block.
constexpr size_t InputPiece = 0x10000;
constexpr size_t OutputBlock = 0x10000;
constexpr size_t WindowSize = 0x8000;
constexpr int Eof = -1;

const char* const Truncated = "unexpected end of file";

Result failure(std::string message) { return {Outcome::Error, std::move(message)}; }

std::string format(const char* pattern, unsigned a, unsigned b = 0) {
    char text[128];
    std::snprintf(text, sizeof text, pattern, a, b);
    return text;
}

class Input {
public:
    explicit Input(Source& source) : source_(source), piece_(new unsigned char[InputPiece]) {}

    int byte() {
        if (pos_ == end_ && !fill()) return Eof;
        return piece_[pos_++];
    }
    // Like gzip, looks into the next block to tell.
    bool atEnd() { return pos_ == end_ && !fill(); }
    bool fill() {
        if (ended_) return false;
        pieceInBlock_ += end_;
        if (pieceInBlock_ == InputBlock) pieceInBlock_ = 0;
        const size_t wanted = std::min(InputPiece, InputBlock - pieceInBlock_);
        end_ = source_.read(piece_.get(), wanted);
        pos_ = 0;
        ended_ = end_ < wanted;
        if (pieceInBlock_ == 0) {
            blockHead_.fill(0);
            std::memcpy(blockHead_.data(), piece_.get(), std::min(end_, blockHead_.size()));
        }
        return end_ > 0;
    }

    size_t posInBlock() const { return pieceInBlock_ + pos_; }
    size_t blockFilled() const { return pieceInBlock_ + end_; }
    // The first bytes of the current block, zeros past its end.
    const unsigned char* blockStart() const { return blockHead_.data(); }
    unsigned char* next() { return piece_.get() + pos_; }
    size_t available() const { return end_ - pos_; }
    void consume(size_t n) { pos_ += n; }

    // Up to `size` bytes, buffered ones first; fewer only at the end.
    size_t readInto(unsigned char* into, size_t size) {
        size_t done = std::min(size, available());
        std::memcpy(into, next(), done);
        pos_ += done;
        if (done < size && !ended_) {
            const size_t more = source_.read(into + done, size - done);
            ended_ = more < size - done;
            done += more;
        }
        return done;
    }

private:
    Source& source_;
    // Not zeroed: only what a read fills is looked at.
    std::unique_ptr<unsigned char[]> piece_;
    std::array<unsigned char, 4> blockHead_{};
    size_t pieceInBlock_ = 0, pos_ = 0, end_ = 0;
    bool ended_ = false;
};

class Output {
public:
    explicit Output(Sink& sink) : sink_(sink), buffer_(new unsigned char[OutputBlock]) {}
    unsigned char* space() { return buffer_.get() + used_; }
    size_t room() const { return OutputBlock - used_; }
    void commit(size_t n) {
        used_ += n;
        if (used_ == OutputBlock) flush();
    }
    void put(const unsigned char* data, size_t n) {
        while (n > 0) {
            if (room() == 0) flush();
            const size_t part = std::min(n, room());
            std::memcpy(space(), data, part);
            used_ += part;
            data += part;
            n -= part;
        }
    }
    void flush() {
        if (used_ > 0) sink_.write(buffer_.get(), used_);
        used_ = 0;
    }

private:
    Sink& sink_;
    std::unique_ptr<unsigned char[]> buffer_;
    size_t used_ = 0;
};

enum class Member { Gzip, Lzw, None };

}  // namespace

struct Decompressor::State {
    explicit State(Source& source) : input(source) {}
    ~State() {
        if (zlibReady) inflateEnd(&z);
    }

    Input input;
    bool headerRead = false;
    Result header;
    Member first = Member::None;
    z_stream z{};
    bool zlibReady = false;
    // gzip's compress decoder keeps its string table in the memory of its
    // inflate window and reads table entries it never set from there, so a
    // .Z stream after gzip members decodes against what they left.
    std::array<unsigned char, WindowSize> window{};

    Result nextMember(bool firstMember, Member& member);
    Result gzipHeader(int magic0, int magic1);
    Result inflateMember(Output& out);
    Result lzw(Output& out);
    void remember(const unsigned char* data, size_t n, uint64_t offset);
};

// What begins at the current position: a member (its header read when it is
// gzip), or, after the first member, the end, with gzip's verdict on what follows.
Result Decompressor::State::nextMember(bool firstMember, Member& member) {
    member = Member::None;
    const int magic0 = input.byte();
    if (magic0 == Eof) return failure(Truncated);
    // A single zero byte may end the input; any other first byte needs a second.
    const int magic1 = input.byte();
    if (magic1 == Eof && magic0 != 0) return failure(Truncated);

    if (magic0 == 0x1f && (magic1 == 0x8b || magic1 == 0x9e)) {
        member = Member::Gzip;
        return gzipHeader(magic0, magic1);
    }
    // gzip's first block starts zeroed: fewer than 4 bytes read are no zip.
    if (magic0 == 'P' && magic1 == 'K' && input.posInBlock() == 2 && input.blockFilled() >= 4 &&
        std::memcmp(input.blockStart(), "PK\3\4", 4) == 0)
        return {Outcome::Unsupported, "zip archive -- not supported"};
    if (magic0 == 0x1f && magic1 == 0x1e) return {Outcome::Unsupported, "packed data -- not supported"};
    if (magic0 == 0x1f && magic1 == 0x9d) {
        member = Member::Lzw;
        return {};
    }
    if (magic0 == 0x1f && magic1 == 0xa0) return {Outcome::Unsupported, "LZH data -- not supported"};
    if (firstMember) return failure("not in gzip format");
    if (magic0 == 0) {
        int next = magic1;
        while (next == 0) next = input.byte();
        if (next == Eof) return {};
    }
    return {Outcome::Warning, "decompression OK, trailing garbage ignored"};
}

Result Decompressor::State::gzipHeader(int magic0, int magic1) {
    unsigned char fixed[10] = {static_cast<unsigned char>(magic0), static_cast<unsigned char>(magic1)};
    for (int i = 2; i < 10; ++i) {
        const int b = input.byte();
        if (b == Eof) return failure(Truncated);
        fixed[i] = static_cast<unsigned char>(b);
        if (i == 2 && b != Z_DEFLATED) return failure(format("unknown method %u -- not supported", b));
        if (i == 3 && (b & 0x20)) return failure("is encrypted -- not supported");
        if (i == 3 && (b & 0xc0)) return failure(format("has flags 0x%x -- not supported", b));
    }
    const unsigned flags = fixed[3];
    const bool headerCrc = flags & 0x02;
    uint32_t crc = 0;
    if (headerCrc) crc = crc32(crc, fixed, sizeof fixed);
    // Reads one header byte into the header's checksum; false at the end.
    const auto take = [&](int& b) {
        b = input.byte();
        if (b == Eof) return false;
        if (headerCrc) {
            const unsigned char c = static_cast<unsigned char>(b);
            crc = crc32(crc, &c, 1);
        }
        return true;
    };
    int b = 0;
    if (flags & 0x04) {
        int low = 0, high = 0;
        if (!take(low) || !take(high)) return failure(Truncated);
        for (unsigned length = static_cast<unsigned>(low | high << 8); length > 0; --length)
            if (!take(b)) return failure(Truncated);
    }
    for (const unsigned text : {0x08u, 0x10u}) {  // the original name (-d never uses it), the comment
        if (!(flags & text)) continue;
        do {
            if (!take(b)) return failure(Truncated);
        } while (b != 0);
    }
    if (headerCrc) {
        const int low = input.byte(), high = input.byte();
        if (low == Eof || high == Eof) return failure(Truncated);
        const unsigned stored = static_cast<unsigned>(low | high << 8), computed = crc & 0xffff;
        if (stored != computed)
            return failure(format("header checksum 0x%04x != computed checksum 0x%04x", stored, computed));
    }
    return {};
}

void Decompressor::State::remember(const unsigned char* data, size_t n, uint64_t offset) {
    if (n > WindowSize) {
        data += n - WindowSize;
        offset += n - WindowSize;
        n = WindowSize;
    }
    const size_t slot = static_cast<size_t>(offset % WindowSize), first = std::min(n, WindowSize - slot);
    std::memcpy(window.data() + slot, data, first);
    std::memcpy(window.data(), data + first, n - first);
}

Result Decompressor::State::inflateMember(Output& out) {
    if (!zlibReady) {
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return failure("out of memory");
        zlibReady = true;
    } else {
        inflateReset(&z);
    }
    uint32_t crc = 0;
    uint64_t size = 0;
    for (;;) {
        if (input.available() == 0 && !input.fill()) return failure(Truncated);
        const size_t offered = input.available(), room = out.room();
        z.next_in = input.next();
        z.avail_in = static_cast<uInt>(offered);
        z.next_out = out.space();
        z.avail_out = static_cast<uInt>(room);
        const int rc = ::inflate(&z, Z_NO_FLUSH);
        const size_t consumed = offered - z.avail_in, produced = room - z.avail_out;
        input.consume(consumed);
        if (produced > 0) {
            crc = crc32(crc, out.space(), produced);
            remember(out.space(), produced, size);
            size += produced;
            out.commit(produced);
        }
        if (rc == Z_STREAM_END) break;
        if (rc == Z_MEM_ERROR) return failure("out of memory");
        // With input and room offered, no progress would mean no end either.
        if ((rc != Z_OK && rc != Z_BUF_ERROR) || (consumed == 0 && produced == 0))
            return failure("invalid compressed data--format violated");
    }
    unsigned char trailer[8];
    for (auto& t : trailer) {
        const int b = input.byte();
        if (b == Eof) return failure(Truncated);
        t = static_cast<unsigned char>(b);
    }
    const auto le32 = [](const unsigned char* p) {
        return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
    };
    if (le32(trailer) != static_cast<uint32_t>(crc)) return failure("invalid compressed data--crc error");
    if (le32(trailer + 4) != static_cast<uint32_t>(size)) return failure("invalid compressed data--length error");
    return {};
}

// compress's LZW as gzip's unlzw reads it: codes of 9 bits up to the stream's
// maximum, packed in groups of 8 codes; a change of code width (and CLEAR)
// skips to the end of the current group. Table and buffer handling follow
// unlzw step by step, since corrupt input decodes the way they make it.
Result Decompressor::State::lzw(Output& out) {
    const int flags = input.byte();
    if (flags == Eof) return failure(Truncated);
    Result result;
    if (flags & 0x60) result = {Outcome::Warning, format("warning, unknown flags 0x%x", flags & 0x60)};
    const bool blockMode = flags & 0x80;
    const int maxBits = flags & 0x1f;
    if (maxBits > 16) return failure(format("compressed with %u bits, can only handle 16 bits", maxBits));
    const long maxMaxCode = 1L << maxBits;
    constexpr long Clear = 256;

    std::vector<uint16_t> prefix(1 << 16, 0);
    std::vector<unsigned char> suffix(1 << 16, 0);
    std::copy(window.begin(), window.end(), suffix.begin());
    for (int c = 0; c < 256; ++c) suffix[c] = static_cast<unsigned char>(c);
    // A string is at most one byte per table entry above 255, plus one.
    std::vector<unsigned char> stack((1 << 16) + 64);
    unsigned char* const stackEnd = stack.data() + stack.size();
    // Codes are read 3 bytes at a time, up to 2 bytes past the data.
    constexpr size_t Keep = 64;
    std::vector<unsigned char> in(InputBlock + Keep + 8, 0);

    int nBits = 9;
    long maxCode = (1L << nBits) - 1;
    unsigned long bitmask = (1UL << nBits) - 1;
    long oldCode = -1, freeEnt = blockMode ? Clear + 1 : Clear;
    int finChar = 0;
    size_t inSize = 0, lastRead = 1;
    long posBits = 0;
    const auto toGroupEnd = [&nBits](long bits) {
        const long group = static_cast<long>(nBits) << 3;
        return (bits - 1) + (group - (bits - 1 + group) % group);
    };

    for (;;) {
        const size_t from = static_cast<size_t>(posBits >> 3), left = from <= inSize ? inSize - from : 0;
        if (left > 0) std::memmove(in.data(), in.data() + from, left);
        inSize = left;
        posBits = 0;
        if (inSize < Keep) {
            lastRead = input.readInto(in.data() + inSize, InputBlock);
            inSize += lastRead;
        }
        // Until the end of the input only whole groups are decoded.
        const long inBits = lastRead != 0 ? static_cast<long>(inSize - inSize % static_cast<size_t>(nBits)) << 3
                                          : (static_cast<long>(inSize) << 3) - (nBits - 1);
        bool widthChanged = false;
        while (inBits > posBits) {
            if (freeEnt > maxCode) {
                posBits = toGroupEnd(posBits);
                ++nBits;
                maxCode = nBits == maxBits ? maxMaxCode : (1L << nBits) - 1;
                bitmask = (1UL << nBits) - 1;
                widthChanged = true;
                break;
            }
            const unsigned char* p = in.data() + (posBits >> 3);
            long code = static_cast<long>(
                ((p[0] | static_cast<unsigned long>(p[1]) << 8 | static_cast<unsigned long>(p[2]) << 16) >>
                 (posBits & 7)) &
                bitmask);
            posBits += nBits;

            if (oldCode == -1) {
                if (code >= 256) return failure("corrupt input.");
                oldCode = code;
                finChar = static_cast<int>(code);
                const unsigned char c = static_cast<unsigned char>(code);
                out.put(&c, 1);
                continue;
            }
            if (code == Clear && blockMode) {
                freeEnt = Clear;
                posBits = toGroupEnd(posBits);
                nBits = 9;
                maxCode = (1L << nBits) - 1;
                bitmask = (1UL << nBits) - 1;
                widthChanged = true;
                break;
            }
            const long inCode = code;
            unsigned char* sp = stackEnd;
            if (code >= freeEnt) {
                if (code > freeEnt) return failure("corrupt input.");
                *--sp = static_cast<unsigned char>(finChar);
                code = oldCode;
            }
            // Each entry's prefix is an older code, so this walk ends within the stack.
            while (code >= 256) {
                *--sp = suffix[static_cast<size_t>(code)];
                code = prefix[static_cast<size_t>(code)];
            }
            finChar = suffix[static_cast<size_t>(code)];
            *--sp = static_cast<unsigned char>(finChar);
            out.put(sp, static_cast<size_t>(stackEnd - sp));

            if (freeEnt < maxMaxCode) {
                prefix[static_cast<size_t>(freeEnt)] = static_cast<uint16_t>(oldCode);
                suffix[static_cast<size_t>(freeEnt)] = static_cast<unsigned char>(finChar);
                ++freeEnt;
            }
            oldCode = inCode;
        }
        if (!widthChanged && lastRead == 0) break;
    }
    return result;
}

Decompressor::Decompressor(Source& input) : state_(std::make_unique<State>(input)) {}
Decompressor::~Decompressor() = default;

Result Decompressor::readHeader() {
    State& s = *state_;
    if (!s.headerRead) {
        s.headerRead = true;
        s.header = s.nextMember(true, s.first);
    }
    return s.header;
}

Result Decompressor::decode(Sink& sink) {
    if (const Result header = readHeader(); header.outcome != Outcome::Ok) return header;
    State& s = *state_;
    Output out(sink);
    Result overall;
    for (Member member = s.first; member != Member::None;) {
        const Member current = member;
        member = Member::None;
        Result r = current == Member::Lzw ? s.lzw(out) : s.inflateMember(out);
        // A .Z stream runs to the end of the input; after a gzip member anything may follow.
        if (r.outcome == Outcome::Ok && current == Member::Gzip && !s.input.atEnd()) r = s.nextMember(false, member);
        if (r.outcome == Outcome::Error || r.outcome == Outcome::Unsupported) return r;
        if (r.outcome == Outcome::Warning) overall = r;
    }
    out.flush();
    return overall;
}

Result decompress(Source& input, Sink& output) {
    Decompressor decompressor(input);
    return decompressor.decode(output);
}

}  // namespace gunzip
