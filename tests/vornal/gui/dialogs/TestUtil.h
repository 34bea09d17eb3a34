#pragma once

#include "MessageBoxes.h"

#include <QTest>

namespace vornal::test {

// The message boxes recorded within `timeoutMs`, waiting until at least `count` have come.
inline QList<MessageBoxes::Record> waitForRecords(int count, int timeoutMs = 3000) {
    QList<MessageBoxes::Record> all;
    [[maybe_unused]] const bool enough = QTest::qWaitFor(
        [&] {
            all += MessageBoxes::takeRecords();
            return all.size() >= count;
        },
        timeoutMs);
    return all;
}

} // namespace vornal::test
