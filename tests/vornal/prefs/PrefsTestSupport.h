#pragma once

#include "vornal/prefs/FilePreferences.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace vornal::prefs::test {

// A fresh file-backed store in a temporary folder for every test.
class TempStore : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        file = dir.filePath(QStringLiteral("prefs.txt"));
        FilePreferencesFactory::setFileProperty(file);
        FilePreferencesFactory::reset();
    }
    void TearDown() override {
        FilePreferencesFactory::setFileProperty(QString());
        FilePreferencesFactory::reset();
    }

    // Starts over as a new process would: the tree is read again from the file.
    std::shared_ptr<AbstractPreferences> reopen(const QString& path = QStringLiteral("/halvorn/Vornal")) {
        FilePreferencesFactory::reset();
        return FilePreferencesFactory::userRoot()->node(path);
    }

    void writeFile(const QByteArray& text) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }
    QByteArray readFile() const {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // The entry lines, without the two comment lines.
    QList<QByteArray> entryLines() const {
        QList<QByteArray> lines = readFile().split('\n');
        QList<QByteArray> entries;
        for (const QByteArray& l : lines)
            if (!l.isEmpty() && !l.startsWith('#'))
                entries += l;
        return entries;
    }

    QTemporaryDir dir;
    QString file;
};

} // namespace vornal::prefs::test
