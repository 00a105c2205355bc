// gunzip.exe's command line: what it does with each name, and its exit status.
//
// gunzip.exe: the decompressor the program starts for each archive object,
// as `gunzip.exe -d -f <path>`. It decompresses in its own process and
// leaves what `gzip -d -f <path>` leaves, with gzip's exit status: 0 done,
// 1 failed (no output, the input kept), 2 done with a warning.
#include "decompress.h"
#include "file_io.h"

#include <cstdio>
#include <new>
#include <optional>
#include <string_view>
#include <type_traits>

namespace gunzip {
namespace {

constexpr int Done = 0, Failed = 1, Warned = 2;

using Char = NativeString::value_type;

unsigned lowered(Char c) {
    const unsigned u = static_cast<std::make_unsigned_t<Char>>(c);
    return u >= 'A' && u <= 'Z' ? u + ('a' - 'A') : u;
}
bool isSeparator(Char c) { return c == '/' || c == std::filesystem::path::preferred_separator; }
NativeString native(std::string_view ascii) { return NativeString(ascii.begin(), ascii.end()); }
bool endsWith(const NativeString& name, std::string_view lowerAscii) {
    if (name.size() < lowerAscii.size()) return false;
    const size_t at = name.size() - lowerAscii.size();
    for (size_t i = 0; i < lowerAscii.size(); ++i)
        if (lowered(name[at + i]) != static_cast<unsigned char>(lowerAscii[i])) return false;
    return true;
}

// gzip's suffixes in its order, in any letter case. A suffix counts only
// after at least one character of the file's own name.
size_t suffixLength(const NativeString& name) {
    for (const std::string_view suffix : {".gz", ".z", ".taz", ".tgz", "-gz", "-z", "_z"}) {
        if (name.size() > suffix.size() && !isSeparator(name[name.size() - suffix.size() - 1]) &&
            endsWith(name, suffix))
            return suffix.size();
    }
    return 0;
}

NativeString outputName(const NativeString& name, size_t suffix) {
    const bool tarball = endsWith(name, ".tgz") || endsWith(name, ".taz");
    return name.substr(0, name.size() - suffix) + (tarball ? native(".tar") : NativeString());
}

// As with gzip -d, a name without a known suffix that does not exist is
// tried with one; `name` becomes the one found.
std::optional<InputFile> openInput(NativeString& name, bool force) {
    try {
        return InputFile::open(name, force);
    } catch (const IoFailure& failure) {
        if (!failure.missing || suffixLength(name) > 0) {
            complain(name, failure.text);
            return std::nullopt;
        }
    }
    std::string firstFailure;
    for (const std::string_view suffix : {".gz", ".z", "-z", ".Z"}) {
        const NativeString candidate = name + native(suffix);
        try {
            InputFile file = InputFile::open(candidate, force);
            name = candidate;
            return file;
        } catch (const IoFailure& failure) {
            if (!failure.missing) {
                complain(candidate, failure.text);
                return std::nullopt;
            }
            if (firstFailure.empty()) firstFailure = failure.text;
        }
    }
    complain(name + native(".gz"), firstFailure);
    return std::nullopt;
}

// gzip -f replaces what stands under the output name, a link or a file, but
// never writes through it.
int createOutput(const NativeString& name, bool force, std::optional<OutputFile>& output) {
    for (int attempt = 0;; ++attempt) {
        try {
            output.emplace(OutputFile::create(name));
            return Done;
        } catch (const IoFailure& failure) {
            if (!failure.taken || attempt == 3) {
                complain(name, failure.text);
                return Failed;
            }
            if (!force) {
                complain(name, "already exists; not overwritten");
                return Warned;
            }
        }
        try {
            removeEntry(name);
        } catch (const IoFailure& failure) {
            complain(name, failure.text);
            return Failed;
        }
    }
}

int decompressFile(NativeString name, bool force) {
    std::optional<InputFile> input = openInput(name, force);
    if (!input) return Failed;
    if (input->kind() != EntryKind::Regular) {
        complain(name, input->kind() == EntryKind::Directory ? "is a directory -- ignored"
                                                             : "is not a directory or a regular file - ignored");
        return Warned;
    }
    if (input->setIdBits()) {
        complain(name, "is set-user-ID or set-group-ID on execution - ignored");
        return Warned;
    }
    if (!force && (input->sticky() || input->links() > 1)) {
        complain(name, input->sticky() ? "has the sticky bit set - file ignored" : "has other links -- file ignored");
        return Warned;
    }
    const size_t suffix = suffixLength(name);
    if (suffix == 0) {
        complain(name, "unknown suffix -- ignored");
        return Warned;
    }
    const NativeString outName = outputName(name, suffix);

    Decompressor decompressor(*input);
    std::optional<OutputFile> output;
    try {
        // Not even compressed: whatever stands under the output name stays.
        if (const Result header = decompressor.readHeader(); header.outcome != Outcome::Ok) {
            complain(name, header.message);
            return Failed;
        }
        if (const int created = createOutput(outName, force, output); created != Done) return created;

        const Result body = decompressor.decode(*output);
        if (body.outcome == Outcome::Error || body.outcome == Outcome::Unsupported) {
            complain(name, body.message);
            return Failed;  // the output goes with `output`
        }
        int status = Done;
        if (body.outcome == Outcome::Warning) {
            complain(name, body.message);
            status = Warned;
        }
        input->close();
        if (std::string why; !output->copyAttributes(*input, why)) {
            complain(outName, why);
            status = Warned;
        }
        output->keep();
        try {
            removeEntry(name);
        } catch (const IoFailure& failure) {
            complain(name, failure.text);
            status = Warned;
        }
        return status;
    } catch (const IoFailure& failure) {
        complain(name, failure.text);
        return Failed;
    } catch (const std::bad_alloc&) {
        complain(name, "out of memory");
        return Failed;
    }
}

bool equals(const NativeString& argument, std::string_view ascii) { return argument == native(ascii); }

// -d, -f, --decompress, --force, combined as in -df; one file.
int run(const std::vector<NativeString>& arguments) {
    bool force = false, options = true, unknown = false;
    std::vector<NativeString> files;
    for (const NativeString& a : arguments) {
        if (!options || a.size() < 2 || a[0] != '-') {
            files.push_back(a);
        } else if (equals(a, "--")) {
            options = false;
        } else if (equals(a, "--force")) {
            force = true;
        } else if (equals(a, "--decompress") || equals(a, "--uncompress")) {
        } else if (a[1] == '-') {
            unknown = true;
        } else {
            for (size_t i = 1; i < a.size(); ++i) {
                force = force || a[i] == 'f';
                unknown = unknown || (a[i] != 'f' && a[i] != 'd');
            }
        }
    }
    if (unknown || files.size() != 1) {
        std::fputs("usage: gunzip.exe [-d] [-f] FILE\n", stderr);
        return Failed;
    }
    return decompressFile(files.front(), force);
}

}  // namespace
}  // namespace gunzip

int main(int argc, char** argv) { return gunzip::run(gunzip::arguments(argc, argv)); }
