// A folder mounted once more somewhere else, for as long as the object lives.
#pragma once

#include <string>

namespace jor::test {

// Mounted below its own tree, a folder loops as a crafted disc image's
// folders can. Mounting needs root; where it is refused, mounted() is false
// and why() says so.
class BindMount {
public:
    BindMount(const std::string& folder, const std::string& at);
    ~BindMount();
    BindMount(const BindMount&) = delete;
    BindMount& operator=(const BindMount&) = delete;
    bool mounted() const { return mounted_; }
    const std::string& why() const { return why_; }

private:
    std::string at_, why_;
    bool mounted_ = false;
};

}  // namespace jor::test
