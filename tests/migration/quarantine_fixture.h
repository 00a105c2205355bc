// A bad object handed to the quarantine as the scan would, and the error line it leaves.
#pragma once

#include "migration/migration_fixture.h"

#include <string>

namespace jor::test {

class Quarantine : public MigrationFixture {
protected:
    const std::string bad = dst + "/BadObjects";

    // The object as the scan hands it over: on the medium, with its working copy.
    void quarantine(const std::string& name, const std::string& medium, bool withWorkingCopy = true) {
        writeFile(src + "/" + name, medium);
        makeFolders(work);
        engine.state().CurrentFileName = name;
        engine.state().WorkingPath = work + "/" + name + ".dcm.z";
        if (withWorkingCopy) writeFile(engine.state().WorkingPath, "working copy");
        engine.QuarantineBadObject(FileEntry{name, src + "/" + name});
    }
    static std::string notMigrated(const std::string& name) {
        return "-1 - File " + name + " could not be migrated. - CorrectImage";
    }
};

}  // namespace jor::test
