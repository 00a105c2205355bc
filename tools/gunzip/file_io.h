// What gunzip.exe needs of the system: arguments, messages, input and output files.
#pragma once
// What gunzip.exe needs of the system, once per platform
// (file_io_posix.cpp, file_io_win32.cpp).

#include "decompress.h"

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace gunzip {

// Names as the system spells them: bytes on Linux, UTF-16 on Windows.
using NativeString = std::filesystem::path::string_type;

struct IoFailure {
    std::string text;      // the system's description
    bool missing = false;  // the name does not exist
    bool taken = false;    // creating failed because the name exists
};

// The command line after the program's name. On Windows it is read wide, so
// that any name the file system allows arrives intact.
std::vector<NativeString> arguments(int argc, char** argv);

// "gunzip.exe: <name>: <text>" on the error output.
void complain(const NativeString& name, std::string_view text);

enum class EntryKind { Regular, Directory, Other };

class InputFile final : public Source {
public:
    // Opening never blocks on a pipe or device. A symbolic link as the last
    // part of `name` is followed only when `followLink`.
    static InputFile open(const NativeString& name, bool followLink);
    InputFile(InputFile&&) noexcept;
    ~InputFile() override;

    EntryKind kind() const;
    bool setIdBits() const;  // set-user-id or set-group-id
    bool sticky() const;
    unsigned links() const;

    size_t read(unsigned char* buffer, size_t size) override;
    void close();

    struct Handle;

private:
    explicit InputFile(std::unique_ptr<Handle> handle);
    std::unique_ptr<Handle> handle_;
    friend class OutputFile;
};

// A file created new under its name: an entry of that name, a symbolic link
// included, is never opened or followed. Removed again unless kept.
class OutputFile final : public Sink {
public:
    static OutputFile create(const NativeString& name);
    OutputFile(OutputFile&&) noexcept;
    ~OutputFile() override;

    void write(const unsigned char* data, size_t size) override;
    // The input's permissions and times, as gzip copies them; false (with the
    // reason) when the system refused, which gzip only warns about.
    bool copyAttributes(const InputFile& input, std::string& why);
    // Closes the file and keeps it; throws (and removes it) when closing fails.
    void keep();

    struct Handle;

private:
    explicit OutputFile(std::unique_ptr<Handle> handle);
    std::unique_ptr<Handle> handle_;
};

// Removes the entry itself (a symbolic link, not its target); never a folder.
void removeEntry(const NativeString& name);

}  // namespace gunzip
