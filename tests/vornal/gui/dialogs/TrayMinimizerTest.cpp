#include "dialogs/TrayMinimizer.h"
#include "dialogs/DialogTexts.h"
#include "vornal/config/Config.h"

#include <QIcon>
#include <QPixmap>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

using namespace vornal;

namespace {

struct FakeIcon : TrayIcon {
    QIcon icon;
    QString toolTip;
    bool visible = false;
    QStringList balloons;
    void setIcon(const QIcon& i) override { icon = i; }
    void setToolTip(const QString& text) override { toolTip = text; }
    void show() override { visible = true; }
    void hide() override { visible = false; }
    bool isVisible() const override { return visible; }
    void showMessage(const QString& caption, const QString& text) override {
        balloons << caption + u'|' + text;
    }
};

struct FakeTray : SystemTray {
    bool available = true;
    int height = 22;
    FakeIcon* last = nullptr;
    bool isSystemTrayAvailable() const override { return available; }
    int iconHeight() const override { return height; }
    std::unique_ptr<TrayIcon> createTrayIcon() override {
        auto icon = std::make_unique<FakeIcon>();
        last = icon.get();
        return icon;
    }
};

QIcon windowIcon() {
    QIcon icon;
    for (int size : {32, 24, 20, 16}) {
        QPixmap p(size, size);
        p.fill(Qt::red);
        icon.addPixmap(p);
    }
    return icon;
}

class TrayMinimizerTest : public ::testing::Test {
protected:
    void SetUp() override {
        window.setWindowIcon(windowIcon());
        window.resize(200, 100);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    void minimize() { window.setWindowState(window.windowState() | Qt::WindowMinimized); }
    // The platform confirms state changes later; a user never acts faster than that.
    static void settle() { QTest::qWait(50); }

    std::shared_ptr<FakeTray> tray = std::make_shared<FakeTray>();
    config::Config config;
    QWidget window;
};

} // namespace

TEST(TrayIconSize, ChosenByTheTrayHeight) {
    const std::pair<int, int> cases[] = {{64, 32}, {25, 32}, {24, 24}, {21, 24}, {20, 20},
                                         {17, 20}, {16, 16}, {12, 16}, {0, 16}};
    for (const auto& [height, size] : cases)
        EXPECT_EQ(TrayMinimizer::chooseIconSize(height), size) << height;
}

TEST_F(TrayMinimizerTest, MinimisingGoesToTheTrayAndDoubleClickComesBack) {
    tray->height = 22;
    TrayMinimizer minimizer(tray);
    ASSERT_TRUE(minimizer.addMinimizeToTraySupport(&window, config));
    FakeIcon* icon = tray->last;
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->toolTip, QStringLiteral("Vornal"));
    EXPECT_EQ(icon->icon.availableSizes(), QList<QSize>{QSize(24, 24)});
    EXPECT_FALSE(icon->visible) << "the icon appears only while minimised";

    minimize();
    EXPECT_TRUE(icon->visible);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }));
    ASSERT_EQ(icon->balloons.size(), 1);
    EXPECT_EQ(icon->balloons[0],
              QStringLiteral("Vornal|") + DialogTexts::text(QStringLiteral("minimized.to.system.tray")));

    settle();
    icon->onDoubleClick();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.windowState() & Qt::WindowMinimized);
    EXPECT_FALSE(icon->visible);
    settle();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(icon->visible);

    // Once per minimisation.
    minimize();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }));
    EXPECT_EQ(icon->balloons.size(), 2);
}

TEST_F(TrayMinimizerTest, NoBalloonWhenTheNotificationIsOff) {
    config.notifyWhenMinimizedToTray = false;
    TrayMinimizer minimizer(tray);
    ASSERT_TRUE(minimizer.addMinimizeToTraySupport(&window, config));
    minimize();
    EXPECT_TRUE(tray->last->visible);
    EXPECT_TRUE(tray->last->balloons.isEmpty());
    // The switch is read at each minimisation.
    settle();
    tray->last->onDoubleClick();
    settle();
    config.notifyWhenMinimizedToTray = true;
    minimize();
    EXPECT_EQ(tray->last->balloons.size(), 1);
}

TEST_F(TrayMinimizerTest, MaximisingWhileInTheTrayRemovesTheIcon) {
    TrayMinimizer minimizer(tray);
    ASSERT_TRUE(minimizer.addMinimizeToTraySupport(&window, config));
    minimize();
    ASSERT_TRUE(tray->last->visible);
    window.setWindowState(Qt::WindowMaximized);
    EXPECT_FALSE(tray->last->visible);
    EXPECT_TRUE(window.isVisible());
    // Minimised while maximised is a minimisation too.
    window.setWindowState(Qt::WindowMaximized | Qt::WindowMinimized);
    EXPECT_TRUE(tray->last->visible);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }));
}

TEST_F(TrayMinimizerTest, AfterRemovalMinimisingKeepsTheWindow) {
    TrayMinimizer minimizer(tray);
    ASSERT_TRUE(minimizer.addMinimizeToTraySupport(&window, config));
    minimizer.removeMinimizeToTraySupport();
    EXPECT_FALSE(minimizer.isInstalled());
    minimize();
    QTest::qWait(20);
    EXPECT_FALSE(tray->last->visible);
    EXPECT_TRUE(window.isVisible());
    minimizer.removeMinimizeToTraySupport(); // twice is harmless
}

TEST_F(TrayMinimizerTest, AbsentWithoutTrayOrWithTheSettingOff) {
    tray->available = false;
    {
        TrayMinimizer minimizer(tray);
        EXPECT_FALSE(minimizer.addMinimizeToTraySupport(&window, config));
        EXPECT_EQ(minimizer.trayIcon(), nullptr);
        minimize();
        QTest::qWait(20);
        EXPECT_TRUE(window.isVisible());
    }
    window.setWindowState(Qt::WindowNoState);
    tray->available = true;
    config.minimizeToTray = false;
    TrayMinimizer minimizer(tray);
    EXPECT_TRUE(minimizer.addMinimizeToTraySupport(&window, config));
    EXPECT_FALSE(minimizer.isInstalled());
    minimize();
    QTest::qWait(20);
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(tray->last->visible);
}

TEST_F(TrayMinimizerTest, ListenerGoneWithTheMinimizer) {
    {
        TrayMinimizer minimizer(tray);
        ASSERT_TRUE(minimizer.addMinimizeToTraySupport(&window, config));
    }
    minimize(); // no handler of a destroyed minimiser may run
    QTest::qWait(20);
    EXPECT_TRUE(window.isVisible());
}

TEST_F(TrayMinimizerTest, DesktopWithoutTrayHasNoFeatureAndNoError) {
    // The offscreen platform has no notification area, like a desktop without a tray.
    TrayMinimizer minimizer;
    EXPECT_FALSE(minimizer.addMinimizeToTraySupport(&window, config));
    EXPECT_FALSE(minimizer.isInstalled());
    minimizer.removeMinimizeToTraySupport();
}
