#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QWidget;

namespace vornal::config {
class Config;
}

namespace vornal {

// The tray icon as the minimisation needs it; the real one is a QSystemTrayIcon, tests use a fake.
class TrayIcon {
public:
    virtual ~TrayIcon() = default;
    virtual void setIcon(const QIcon& icon) = 0;
    virtual void setToolTip(const QString& text) = 0;
    // Adds the icon to the tray / removes it.
    virtual void show() = 0;
    virtual void hide() = 0;
    virtual bool isVisible() const = 0;
    // A balloon of the information type.
    virtual void showMessage(const QString& caption, const QString& text) = 0;
    // Called on a double click on the icon (set by the minimisation).
    std::function<void()> onDoubleClick;
};

// The desktop's notification area.
class SystemTray {
public:
    virtual ~SystemTray() = default;
    virtual bool isSystemTrayAvailable() const = 0;
    // Height in pixels of the tray's icons.
    virtual int iconHeight() const = 0;
    virtual std::unique_ptr<TrayIcon> createTrayIcon() = 0;

    // The desktop's real tray (QSystemTrayIcon).
    static std::shared_ptr<SystemTray> platform();
};

// Minimising the main window to the tray: while installed, minimising hides the window from the task bar
// and shows the icon (tooltip "Vornal") instead, with a balloon "minimized.to.system.tray" when
// `notifyWhenMinimizedToTray` is on; a double click on the icon brings the window back and restoring or
// maximising the window removes the icon. Without a tray on the desktop the feature is simply absent.
//
// The window owns one TrayMinimizer; its constructor calls addMinimizeToTraySupport(this, config_) when
// `minimizeToTray` is on, and switching the connection to MANUAL calls removeMinimizeToTraySupport().
// Everything runs on the user-interface thread.
class TrayMinimizer : public QObject {
    Q_OBJECT
public:
    // `tray` null: the desktop's real tray.
    explicit TrayMinimizer(std::shared_ptr<SystemTray> tray = nullptr, QObject* parent = nullptr);
    ~TrayMinimizer() override;

    // Installs the feature for `window`; `config` (kept, must outlive this object) is read at each
    // minimisation for the notification switch. False when the desktop has no tray (nothing installed).
    bool addMinimizeToTraySupport(QWidget* window, const config::Config& config);
    // Removes the window-state handler, if one is installed; the icon's double click stays.
    void removeMinimizeToTraySupport();

    // Whether the window-state handler is installed ("wsl").
    bool isInstalled() const { return wsl_ != nullptr; }
    // The tray icon (null when not installed or no tray).
    TrayIcon* trayIcon() const { return icon_.get(); }

    // The window-state handler: acts on the window's new state (see above).
    void windowStateChanged(Qt::WindowStates newState);
    // The icon's double click: the window becomes visible in normal state.
    void trayIconDoubleClicked();

    // The icon size for a tray whose icons are `trayHeight` pixels high: 32, 24, 20 or 16.
    static int chooseIconSize(int trayHeight);

private:
    class WindowStateListener;

    std::shared_ptr<SystemTray> tray_;
    QPointer<QWidget> window_;
    const config::Config* config_ = nullptr;
    std::unique_ptr<TrayIcon> icon_;
    // A child of the window: gone with it.
    QPointer<QObject> wsl_;
};

} // namespace vornal
