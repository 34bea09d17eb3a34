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

// Which addresses become links, and the error dialog's texts, are checked on the link helpers
// themselves (tests of util); here: the label and the click path use them.
TEST_F(LinksTest, LabelTexts) {
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

TEST_F(LinksTest, AClickedLinkThatIsNoWebAddressIsRefusedWithTheErrorDialog) {
    QLabel label(QStringLiteral("<html><a href=\"file:///etc/passwd\">help</a></html>"));
    label.resize(300, 40);
    LinkMouseListener listener(&label);
    click(label);
    const auto records = test::waitForRecords(1);
    ASSERT_EQ(records.size(), 1);
    EXPECT_EQ(records[0].kind, MessageBoxes::Kind::Error);
    EXPECT_TRUE(openedUrls().isEmpty());
}
