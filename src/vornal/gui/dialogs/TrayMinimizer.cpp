#include "TrayMinimizer.h"

#include "DialogTexts.h"
#include "vornal/config/Config.h"

#include <QApplication>
#include <QEvent>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace vornal {

namespace {

class QtTrayIcon : public TrayIcon {
public:
    QtTrayIcon() {
        QObject::connect(&icon_, &QSystemTrayIcon::activated,
                         [this](QSystemTrayIcon::ActivationReason reason) {
                             if (reason == QSystemTrayIcon::DoubleClick && onDoubleClick)
                                 onDoubleClick();
                         });
    }
    void setIcon(const QIcon& icon) override { icon_.setIcon(icon); }
    void setToolTip(const QString& text) override { icon_.setToolTip(text); }
    void show() override { icon_.show(); }
    void hide() override { icon_.hide(); }
    bool isVisible() const override { return icon_.isVisible(); }
    void showMessage(const QString& caption, const QString& text) override {
        icon_.showMessage(caption, text, QSystemTrayIcon::Information);
    }

private:
    QSystemTrayIcon icon_;
};

class QtSystemTray : public SystemTray {
public:
    bool isSystemTrayAvailable() const override { return QSystemTrayIcon::isSystemTrayAvailable(); }
    int iconHeight() const override {
        // The notification area shows small icons: the style's small icon size in device pixels.
        const int logical = QApplication::style()->pixelMetric(QStyle::PM_SmallIconSize);
        return qRound(logical * qApp->devicePixelRatio());
    }
    std::unique_ptr<TrayIcon> createTrayIcon() override { return std::make_unique<QtTrayIcon>(); }
};

} // namespace

std::shared_ptr<SystemTray> SystemTray::platform() {
    return std::make_shared<QtSystemTray>();
}

// Watches the window's state changes and hands them to the minimisation.
class TrayMinimizer::WindowStateListener : public QObject {
public:
    WindowStateListener(TrayMinimizer* owner, QWidget* window) : QObject(window), owner_(owner) {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::WindowStateChange)
            if (auto* window = qobject_cast<QWidget*>(watched))
                owner_->windowStateChanged(window->windowState());
        return QObject::eventFilter(watched, event);
    }

private:
    TrayMinimizer* owner_;
};

TrayMinimizer::TrayMinimizer(std::shared_ptr<SystemTray> tray, QObject* parent)
    : QObject(parent), tray_(tray ? std::move(tray) : SystemTray::platform()) {}

TrayMinimizer::~TrayMinimizer() {
    removeMinimizeToTraySupport();
}

int TrayMinimizer::chooseIconSize(int trayHeight) {
    if (trayHeight > 24)
        return 32;
    if (trayHeight > 20)
        return 24;
    if (trayHeight > 16)
        return 20;
    return 16;
}

bool TrayMinimizer::addMinimizeToTraySupport(QWidget* window, const config::Config& config) {
    if (!window || !tray_->isSystemTrayAvailable())
        return false;
    removeMinimizeToTraySupport();
    window_ = window;
    config_ = &config;
    if (!icon_) {
        icon_ = tray_->createTrayIcon();
        const int size = chooseIconSize(tray_->iconHeight());
        const QIcon windowIcon = window->windowIcon();
        // The window's image of exactly that size (the window carries 16, 20, 24 and 32 pixels).
        icon_->setIcon(QIcon(windowIcon.pixmap(QSize(size, size))));
        icon_->setToolTip(QStringLiteral("Vornal"));
        icon_->onDoubleClick = [this] { trayIconDoubleClicked(); };
    }
    if (config.minimizeToTray)
        wsl_ = new WindowStateListener(this, window);
    return true;
}

void TrayMinimizer::removeMinimizeToTraySupport() {
    if (wsl_) {
        if (window_)
            window_->removeEventFilter(wsl_);
        delete wsl_.data();
        wsl_.clear();
    }
}

void TrayMinimizer::windowStateChanged(Qt::WindowStates newState) {
    if (!window_ || !icon_)
        return;
    const Qt::WindowStates shape =
        newState & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen);
    if (shape == Qt::WindowMinimized || shape == (Qt::WindowMinimized | Qt::WindowMaximized)) {
        const bool wasInTray = icon_->isVisible();
        icon_->show();
        // Hidden after the state change has been handled by the platform (hiding inside the change
        // leaves some window managers with a stale task bar entry).
        QTimer::singleShot(0, window_.data(), [window = window_] {
            if (window && (window->windowState() & Qt::WindowMinimized))
                window->hide();
        });
        if (!wasInTray && config_ && config_->notifyWhenMinimizedToTray)
            icon_->showMessage(QStringLiteral("Vornal"),
                               DialogTexts::text(QStringLiteral("minimized.to.system.tray")));
    } else if (shape == Qt::WindowNoState || shape == Qt::WindowMaximized) {
        icon_->hide();
        window_->show();
    }
}

void TrayMinimizer::trayIconDoubleClicked() {
    if (!window_)
        return;
    // Without the state handler (manual connection) nothing else takes the icon away.
    if (!wsl_ && icon_)
        icon_->hide();
    // Normal state first: showing a window that is still minimised would minimise it once more.
    window_->setWindowState((window_->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window_->show();
    window_->raise();
    window_->activateWindow();
}

} // namespace vornal
