// gunzip.exe's decoder of gzip and compress data, apart from files.
#pragma once
// The decoder of gunzip.exe, apart from files, so that tests and the fuzzer
// can run it in-process: gzip (every member) and compress (.Z), read the way
// gzip -d reads them, down to its rules for what follows the last member.

#include <cstddef>
#include <memory>
#include <string>

namespace gunzip {

enum class Outcome {
    Ok,
    Warning,      // decompressed, but gzip would exit with 2 (trailing garbage, unknown .Z flags)
    Error,        // not decompressible; what was written is worthless
    Unsupported,  // a format gzip reads and we do not (pack, LZH, zip)
};

struct Result {
    Outcome outcome = Outcome::Ok;
    std::string message;  // gzip's wording where it has one
};

// Reads compressed bytes. Returns fewer than `size` only at the end of the
// input; throws on a read failure.
class Source {
public:
    virtual ~Source() = default;
    virtual size_t read(unsigned char* buffer, size_t size) = 0;
};

// Takes all `size` bytes or throws.
class Sink {
public:
    virtual ~Sink() = default;
    virtual void write(const unsigned char* data, size_t size) = 0;
};

// Two steps, as gzip takes them: it reads the first header before it creates
// the output file, so an input that is not compressed at all leaves an
// existing output untouched.
class Decompressor {
public:
    explicit Decompressor(Source& input);
    ~Decompressor();
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    // The first member's header. Anything but Ok ends the work.
    Result readHeader();
    // Everything after it. Exceptions of the source or sink pass through.
    Result decode(Sink& output);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Both steps at once.
Result decompress(Source& input, Sink& output);

}  // namespace gunzip
