#include "BrokerBox.h"

#include "vornal/publish/Publisher.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

namespace vornal {

namespace {
constexpr int kMiB = 1024 * 1024;
} // namespace

BrokerBox::BrokerBox(std::function<QString(const QString&)> text, QWidget* parent)
    : QGroupBox(parent), text_(std::move(text)) {
    const auto t = [this](const char* key) { return text_(QStringLiteral("broker.") + QLatin1String(key)); };
    setTitle(t("title"));
    setObjectName(QStringLiteral("brokerBox"));
    auto* grid = new QGridLayout(this);
    int r = 0;
    const auto row = [&](const char* key, const char* name, QWidget* control = nullptr) {
        QWidget* w = control;
        if (!w) {
            auto* f = new QLineEdit(this);
            w = f;
        }
        w->setObjectName(QString::fromLatin1(name));
        w->setToolTip(t((std::string(key) + ".toolTip").c_str()));
        grid->addWidget(new QLabel(t(key), this), r, 0);
        grid->addWidget(w, r++, 1);
        return w;
    };
    broker_ = static_cast<QLineEdit*>(row("mqttBroker", "mqttBrokerTextField"));
    broker_->setPlaceholderText(t("mqttBroker.off"));
    caFile_ = static_cast<QLineEdit*>(row("mqttCaFile", "mqttCaFileTextField"));
    certFile_ = static_cast<QLineEdit*>(row("mqttCertFile", "mqttCertFileTextField"));
    keyFile_ = static_cast<QLineEdit*>(row("mqttKeyFile", "mqttKeyFileTextField"));
    user_ = static_cast<QLineEdit*>(row("mqttUser", "mqttUserTextField"));
    password_ = static_cast<QLineEdit*>(row("password", "mqttPasswordField"));
    password_->setEchoMode(QLineEdit::Password);
    password_->setPlaceholderText(t("password.unchanged"));
    passwordFile_ = static_cast<QLineEdit*>(row("mqttPasswordFile", "mqttPasswordFileTextField"));
    station_ = static_cast<QLineEdit*>(row("mqttStation", "mqttStationTextField"));
    station_->setPlaceholderText(
        t("mqttStation.default").replace(QStringLiteral("{0}"), publish::Publisher::defaultStation()));
    prefix_ = static_cast<QLineEdit*>(row("mqttTopicPrefix", "mqttTopicPrefixTextField"));
    prefix_->setPlaceholderText(t("mqttTopicPrefix.default"));
    queueMiB_ = new QSpinBox(this);
    queueMiB_->setRange(1, 2047);
    queueMiB_->setSuffix(QStringLiteral(" MiB"));
    row("mqttQueueMaxBytes", "mqttQueueMaxBytesSpinBox", queueMiB_);
    requests_ = new QCheckBox(t("mqttRequests.check"), this);
    row("mqttRequests", "mqttRequestsCheckBox", requests_);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("brokerStatusLabel"));
    grid->addWidget(status_, r++, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    connect(password_, &QLineEdit::editingFinished, this, [this] {
        if (const QString why = storePassword(); !why.isEmpty())
            status_->setText(why);
    });
}

const QStringList& BrokerBox::keys() {
    static const QStringList k = {QStringLiteral("mqttBroker"),        QStringLiteral("mqttCaFile"),
                                  QStringLiteral("mqttCertFile"),      QStringLiteral("mqttKeyFile"),
                                  QStringLiteral("mqttUser"),          QStringLiteral("mqttPasswordFile"),
                                  QStringLiteral("mqttStation"),       QStringLiteral("mqttTopicPrefix"),
                                  QStringLiteral("mqttQueueMaxBytes"), QStringLiteral("mqttRequests")};
    return k;
}

QLineEdit* BrokerBox::fieldOf(const QString& key) const {
    if (key == u"mqttBroker")
        return broker_;
    if (key == u"mqttCaFile")
        return caFile_;
    if (key == u"mqttCertFile")
        return certFile_;
    if (key == u"mqttKeyFile")
        return keyFile_;
    if (key == u"mqttUser")
        return user_;
    if (key == u"mqttPasswordFile")
        return passwordFile_;
    if (key == u"mqttStation")
        return station_;
    if (key == u"mqttTopicPrefix")
        return prefix_;
    return nullptr;
}

void BrokerBox::fillSetting(const QString& key, const config::Config& c) {
    if (key == u"mqttQueueMaxBytes")
        queueMiB_->setValue(std::max(1, (c.getMqttQueueMaxBytes() + kMiB - 1) / kMiB));
    else if (key == u"mqttRequests")
        requests_->setChecked(c.getMqttRequests());
    else if (QLineEdit* f = fieldOf(key))
        f->setText(c.getByKey(key));
}

QString BrokerBox::storeSetting(const QString& key, config::Config& c) {
    if (key == u"mqttQueueMaxBytes") {
        // Whole MiB here: a byte count set elsewhere is kept unless the box was changed.
        if (queueMiB_->value() != std::max(1, (c.getMqttQueueMaxBytes() + kMiB - 1) / kMiB))
            c.setMqttQueueMaxBytes(queueMiB_->value() * kMiB);
    } else if (key == u"mqttRequests") {
        c.setMqttRequests(requests_->isChecked());
    } else if (QLineEdit* f = fieldOf(key)) {
        QString why;
        if (!c.setByKey(key, f->text().trimmed(), &why)) {
            f->setText(c.getByKey(key));
            return why;
        }
    }
    return QString();
}

QString BrokerBox::storePassword() {
    if (password_->text().isEmpty())
        return QString();
    QString why;
    if (!publish::Publisher::storePassword(password_->text(), &why))
        return why;
    password_->clear();
    password_->setPlaceholderText(text_(QStringLiteral("broker.password.stored")));
    return QString();
}

void BrokerBox::showStatus(const QString& text) {
    status_->setText(text);
}

} // namespace vornal
