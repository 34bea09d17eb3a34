#include "MessageBoxes.h"
#include "TestUtil.h"
#include "dialogs/OpenHyperlinkInBrowser.h"

#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

using namespace vornal;
using util::OpenHyperlinkInBrowser;

namespace {

class LinksTest : public ::testing::Test {
protected:
    void SetUp() override {
        DesktopLinks::install();
        OpenHyperlinkInBrowser::setBrowserOpener([this](const QUrl& url) {
            std::lock_guard lock(mutex);
            opened << url.toString();
            return answer.load();
        });
        MessageBoxes::takeRecords();
    }
    void TearDown() override { OpenHyperlinkInBrowser::setBrowserOpener(nullptr); }
    QStringList openedUrls() {
        std::lock_guard lock(mutex);
        return opened;
    }
    void click(QLabel& label) { QTest::mouseClick(&label, Qt::LeftButton, {}, QPoint(3, 3)); }

    std::mutex mutex;
    QStringList opened;
    std::atomic<bool> answer{true};
};

} // namespace

TEST_F(LinksTest, LabelTexts) {
    JLabelHtml plain(QStringLiteral("No address here"));
    EXPECT_EQ(plain.text(), QStringLiteral("<html>No address here</html>"));
    JLabelHtml linked(QStringLiteral("See https://example.com/help."));
    EXPECT_EQ(linked.text(),
              QStringLiteral(
                  "<html>See <a href=\"https://example.com/help\">https://example.com/help</a>.</html>"));
    linked.setText(QStringLiteral("gone"));
    EXPECT_EQ(linked.text(), QStringLiteral("<html>gone</html>"));
}

TEST_F(LinksTest, ClickingALinkedLabelOpensItOffTheUiThread) {
    JLabelHtml label(QStringLiteral("Download: https://example.com/vornal"));
    label.resize(300, 40);
    click(label);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return (openedUrls()) == (QStringList{QStringLiteral("https://example.com/vornal")}); }));
    QTest::qWait(20);
    EXPECT_TRUE(MessageBoxes::takeRecords().isEmpty());
}

TEST_F(LinksTest, ClickingALabelWithoutLinkDoesNothing) {
    JLabelHtml label(QStringLiteral("Nothing to open"));
    label.resize(300, 40);
    click(label);
    QTest::qWait(50);
    EXPECT_TRUE(openedUrls().isEmpty());
    EXPECT_TRUE(MessageBoxes::takeRecords().isEmpty());
}

TEST_F(LinksTest, OnlyWebAddressesAreOpened) {
    for (const char* text : {"<html><a href=\"file:///etc/passwd\">help</a></html>",
                             "<html><a href=\"javascript:alert(1)\">help</a></html>",
                             "<html><a href=\"https://\">help</a></html>"}) {
        QLabel label(QString::fromLatin1(text));
        label.resize(300, 40);
        LinkMouseListener listener(&label);
        click(label);
        EXPECT_EQ(test::waitForRecords(1).size(), 1);
        EXPECT_TRUE(openedUrls().isEmpty()) << text;
    }
}

TEST_F(LinksTest, BrowserFailureShowsTheProblemDialog) {
    answer = false;
    DesktopLinks::openHyperlink(QStringLiteral("https://example.com/"));
    const auto records = test::waitForRecords(1);
    EXPECT_EQ(records[0].kind, MessageBoxes::Kind::Error);
    EXPECT_EQ(records[0].title, QStringLiteral("A problem occured"));
    EXPECT_TRUE(records[0].text.startsWith(QStringLiteral(
        "Sorry, a problem occurred while trying to open this link in your system's standard browser.")));
}
