// The check that an operation fails with a given jor::Error.
#pragma once

#include "platform/error.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace jor::test {

// `operation` raises a jor::Error numbered `number`, described as
// `description` where one is given; `what` names the case in a failure.
inline void expectError(const std::function<void()>& operation, int32_t number, const std::string& what,
                        const std::string& description = {}) {
    try {
        operation();
        ADD_FAILURE() << what << ": no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), number) << what << ": " << e.description();
        if (!description.empty()) {
            EXPECT_EQ(e.description(), description) << what;
        }
    }
}

}  // namespace jor::test
