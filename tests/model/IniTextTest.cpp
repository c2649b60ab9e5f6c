#include "IniText.h"

#include "QSettingsStore.h"
#include "TempDir.h"

#include <QFile>
#include <QSettings>
#include <array>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace corvalle {
namespace {

// What QSettings makes of `text` as a file's contents, under `key`.
// QSettings keeps what it read of a file name for a while: a new name each time.
QVariant readBack(const test::TempDir& dir, const QByteArray& text, const char* key) {
    static int files = 0;
    const auto path = dir.writeFile("read" + std::to_string(++files) + ".conf", text.toStdString());
    return QSettings(QString::fromStdString(path.string()), QSettings::IniFormat)
        .value(QString::fromLatin1(key));
}

TEST(IniText, EveryByteReadsBackThroughQSettings) {
    const test::TempDir dir;
    QByteArray every;
    for (int byte = 0; byte < 256; ++byte) {
        every.append(static_cast<char>(byte));
        every.append("0aF,;=\" "); // hex digits after an escape, and INI's own characters
    }
    const QByteArray cases[] = {every, "", " leading and trailing ", "\\x41", "@ByteArray(x)"};
    for (const QByteArray& bytes : cases) {
        const QByteArray file =
            IniText::withValue("", "appSettings", IniText::byteArrayValue(bytes));
        EXPECT_EQ(readBack(dir, file, "appSettings"), QVariant(bytes)) << file.toStdString();
    }
}

TEST(IniText, OnlyTheEntryChangesAndEverythingElseStaysAsWritten) {
    const test::TempDir dir;
    struct Case {
        QByteArray before;
        QByteArray after;
    };
    const QByteArray v = IniText::byteArrayValue("x");
    const Case cases[] = {
        {"", "[General]\nk=" + v + "\n"},
        {"; mine\nk = \"old\" ; note\nother=1\n", "; mine\nk=" + v + "; note\nother=1\n"},
        {"other=1", "k=" + v + "\nother=1"},
        {"[Other]\nk=2\n", "k=" + v + "\n[Other]\nk=2\n"},
        {"[General]\r\na=1\r\n", "[General]\r\nk=" + v + "\na=1\r\n"},
        {"[Other]\nb=2\n[general]\na=1\n", "k=" + v + "\n[Other]\nb=2\n[general]\na=1\n"},
        {"\xef\xbb\xbf[General]", "\xef\xbb\xbfk=" + v + "\n[General]"},
        // Found by fuzz_ini_text: a comment right after the header.
        {"[General];c\n[Other]\na=1", "k=" + v + "\n[General];c\n[Other]\na=1"},
        // An open quote would run on into an entry added after it.
        {"a=\"open", "k=" + v + "\na=\"open"},
        {"k=\"multi\nline\"\nz=1\n", "k=" + v + "\nz=1\n"},
        {"k=continued\\\nline\nz=1\n", "k=" + v + "\nz=1\n"},
        {"k=1\nk=2\n", "k=" + v + "\nk=" + v + "\n"},
    };
    for (const auto& [before, after] : cases) {
        const QByteArray edited = IniText::withValue(before, "k", v);
        EXPECT_EQ(edited, after) << before.toStdString();
        EXPECT_EQ(readBack(dir, edited, "k"), QVariant(QByteArray("x"))) << before.toStdString();
    }
    EXPECT_EQ(IniText::rawValue("; c\nk = \"a, b\" ; note\n[Other]\nk=3\n", "k"),
              QByteArray(" \"a, b\" "));
    EXPECT_FALSE(IniText::rawValue("[Other]\nk=3\n", "k"));
}

TEST(IniText, TheStoreKeepsWhatElseTheFileHolds) {
    const test::TempDir dir;
    const auto path = dir.writeFile("c.conf", "; settings by hand\n[General]\nmine=\"a, b\"\n"
                                              "[Window]\nsize=@Size(10 20)\n");
    const QString file = QString::fromStdString(path.string());
    QSettingsStore store(file);
    ASSERT_TRUE(store.setData(QStringLiteral("appSettings"), "{}").stored);
    ASSERT_TRUE(store.setData(QStringLiteral("appSettings"), R"({"a":1})").stored);

    QFile written(file);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), QByteArray("; settings by hand\n[General]\n"
                                            "appSettings=\"@ByteArray({\\\"a\\\":1})\"\n"
                                            "mine=\"a, b\"\n[Window]\nsize=@Size(10 20)\n"));
    EXPECT_EQ(QSettingsStore(file).data(QStringLiteral("appSettings")), QByteArray(R"({"a":1})"));

    // Another writer between two writes is kept, even one that leaves the file's
    // size, place and time as they were.
    written.close();
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    ASSERT_TRUE(written.open(QIODevice::ReadWrite));
    const QByteArray text = written.readAll();
    ASSERT_TRUE(written.seek(text.indexOf("a, b")));
    written.write("c, d");
    written.close();
    const std::array<timespec, 2> times{before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times.data(), 0), 0);
    ASSERT_TRUE(store.setData(QStringLiteral("appSettings"), R"({"b":2})").stored);
    written.close();
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), QByteArray(text)
                                     .replace("a, b", "c, d")
                                     .replace("1})", "2})")
                                     .replace("\\\"a\\\"", "\\\"b\\\""));
}

} // namespace
} // namespace corvalle
