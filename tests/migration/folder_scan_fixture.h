// Whole runs over a medium's folders, and the paths in the order the status label named them.
#pragma once

#include "migration/migration_fixture.h"

#include <algorithm>
#include <string>
#include <vector>

namespace jor::test {

class FolderScan : public MigrationFixture {
protected:
    // Paths relative to the source, in the order the status label named them,
    // with "/" between their parts.
    std::vector<std::string> visited() const {
        const std::string head = "status Datei " + src + PathSeparator, tail = " wird migriert...";
        std::vector<std::string> out;
        for (const auto& e : w.eventsStartingWith("status Datei ")) {
            EXPECT_TRUE(e.starts_with(head) && e.ends_with(tail)) << e;
            std::string relative = e.substr(head.size(), e.size() - head.size() - tail.size());
            std::replace(relative.begin(), relative.end(), PathSeparator, '/');
            out.push_back(relative);
        }
        return out;
    }
    std::vector<std::string> progressEvents() const {
        std::vector<std::string> out;
        for (const auto& e : w.events)
            if (e.starts_with("max ") || e.starts_with("value ") || e.starts_with("text ")) out.push_back(e);
        return out;
    }
};

}  // namespace jor::test
