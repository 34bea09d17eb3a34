#pragma once

#include "vornal/config/Config.h"

#include <QGroupBox>
#include <QString>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace vornal {

// The broker the station publishes its readings to, on the Output tab: the broker, TLS files, user
// name, password, station name, topic prefix, queue size and requests from the broker. Each setting is a
// row of the window's table of settings, filled and read back one key at a time. The password is no
// setting: the field writes the per-user password file (readable by the user only) when it is edited.
class BrokerBox : public QGroupBox {
    Q_OBJECT
public:
    // `text` looks up a bundle key of the window.
    BrokerBox(std::function<QString(const QString&)> text, QWidget* parent = nullptr);

    static const QStringList& keys();
    void fillSetting(const QString& key, const config::Config& config);
    // "" when the control's text was accepted, else why not (the control shows the setting again).
    QString storeSetting(const QString& key, config::Config& config);

    // Writes the password field to the per-user password file; "" or why it failed.
    QString storePassword();
    // The status line of publishing: "broker unreachable, N readings queued", or "".
    void showStatus(const QString& text);

    QLineEdit* password() const { return password_; }
    QLabel* status() const { return status_; }

private:
    QLineEdit* fieldOf(const QString& key) const;

    std::function<QString(const QString&)> text_;
    QLineEdit* broker_;
    QLineEdit* caFile_;
    QLineEdit* certFile_;
    QLineEdit* keyFile_;
    QLineEdit* user_;
    QLineEdit* password_;
    QLineEdit* passwordFile_;
    QLineEdit* station_;
    QLineEdit* prefix_;
    QSpinBox* queueMiB_;
    QCheckBox* requests_;
    QLabel* status_;
};

} // namespace vornal
