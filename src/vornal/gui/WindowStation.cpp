#include "VororaZeZovFrame2.h"

#include "BrokerBox.h"
#include "ConnectionPresenter.h"
#include "EventLog.h"
#include "InputPanel.h"
#include "MessageBoxes.h"
#include "OutputPanel.h"
#include "StartPanel.h"
#include "WindowKeys.h"

#include "vornal/prefs/AbstractPreferences.h"
#include "vornal/publish/Publisher.h"
#include "vornal/util/MessageFormat.h"
#include "vornal/worker/Typist.h"

#include <QLabel>
#include <QPushButton>
#include <QTabWidget>

// The window's station: the instruments (profiles) it holds, the one the settings tabs edit, and one
// presenter (and connection) for each.
namespace vornal {

using util::MessageFormat;
using windowkeys::kTabs;

std::vector<VororaZeZovFrame2::Profile> VororaZeZovFrame2::station() const {
    std::vector<Profile> profiles = profiles_;
    profiles[size_t(selected_)].config = config::Config::copyConfig(config_);
    for (const QString& key : config::Profiles::programWideKeys())
        profiles.front().config.setByKey(key, config_.getByKey(key));
    config::Profiles::shareProgramWide(profiles);
    return profiles;
}

QString VororaZeZovFrame2::profileName(int index) const {
    return index >= 0 && index < profileCount() ? profiles_[size_t(index)].name : QString();
}

ConnectionPresenter* VororaZeZovFrame2::presenterOf(int index) const {
    return index >= 0 && index < int(presenters_.size()) ? presenters_[size_t(index)] : nullptr;
}

config::Config VororaZeZovFrame2::profileConfig(int index) const {
    if (index == selected_)
        return config_;
    config::Config c = profiles_.at(size_t(index)).config;
    for (const QString& key : config::Profiles::programWideKeys())
        c.setByKey(key, config_.getByKey(key));
    return c;
}

void VororaZeZovFrame2::storeSelected() {
    profiles_[size_t(selected_)].config = config::Config::copyConfig(config_);
}

ConnectionPresenter* VororaZeZovFrame2::makePresenter() {
    auto* p = new ConnectionPresenter(this, *bundle_, eventLog(), statusJLabel_);
    if (!typist_)
        typist_ = worker::Typist::create();
    p->setTypist(typist_);
    p->setPublishing([this](const config::Config& config) { return stationPublisher(config); });
    connect(p, &ConnectionPresenter::connecting, this, [this, p] {
        if (p == presenter())
            applyConnectingState();
    });
    connect(p, &ConnectionPresenter::connectedChanged, this, [this, p](bool on) {
        if (p == presenter())
            applyConnectedState(on);
    });
    connect(p, &ConnectionPresenter::changed, this, [this, p] {
        showProfileRow(p);
        showTrayStatus();
    });
    connect(p, &ConnectionPresenter::notice, this, &VororaZeZovFrame2::notifyWhenHidden);
    connect(p, &ConnectionPresenter::keyBackendUnavailable, output_, &OutputPanel::markKeyBackendUnavailable);
    return p;
}

publish::Publisher* VororaZeZovFrame2::stationPublisher(const config::Config& config) {
    // The topic level of every instrument, as each presenter names its readings.
    QStringList topics;
    if (profileCount() <= 1) {
        topics << publish::Publisher::instrumentName(config);
    } else {
        for (const Profile& profile : profiles_)
            topics << publish::Publisher::instrumentName(profile.config, profile.name);
    }
    // The broker settings are program-wide: the tabs' record has them as they are now, whichever
    // instrument starts.
    const config::Config& station = config_;
    QStringList key = topics;
    for (const QString& k : config::Config::keys())
        if (k.startsWith(QStringLiteral("mqtt")))
            key << station.getByKey(k);
    if (publisherKey_ == key.join(u'\n'))
        return publisher_.get();
    // Settings or instruments changed: what the old publisher has not delivered stays queued on disk and
    // goes first from the new one.
    auto showBroker = [this](const QString& problem) {
        for (ConnectionPresenter* p : presenters_)
            p->setBrokerProblem(problem);
        output_->brokerBox->showStatus(problem);
    };
    for (ConnectionPresenter* p : presenters_)
        p->attachPublisher(nullptr);
    if (publisher_) {
        publisher_->disconnect(this);
        publisher_->stop(1000);
        publisher_.reset();
    }
    showBroker(QString());
    publisherKey_ = key.join(u'\n');
    if (station.getMqttBroker().isEmpty())
        return nullptr;
    publish::Publisher::Settings settings;
    QString why;
    if (!publish::Publisher::fromConfig(station, &settings, &why)) {
        // Typing goes on without the broker; the reason stays in the log.
        eventLog()->logImportantEvent(MessageFormat::format(text(QStringLiteral("broker.unusable.0")), why));
        publisherKey_.clear();
        return nullptr;
    }
    settings.instrument = topics.front();
    settings.moreInstruments = topics.mid(1);
    publisher_ = std::make_unique<publish::Publisher>(settings);
    connect(publisher_.get(), &publish::Publisher::logEvent, this, [this](const QString& t, bool important) {
        if (important)
            eventLog()->logImportantEvent(t);
        else
            eventLog()->logEvent(t);
    });
    connect(publisher_.get(), &publish::Publisher::brokerStatus, this,
            [this, showBroker](bool reachable, qint64 queued) {
                showBroker(reachable
                               ? QString()
                               : MessageFormat::format(text(QStringLiteral("broker.unreachable.0")), queued));
            });
    connect(publisher_.get(), &publish::Publisher::requestReceived, this, [this](const QString& instrument) {
        for (ConnectionPresenter* p : presenters_)
            p->requestFromBroker(instrument);
    });
    if (!publisher_->start(&why)) {
        eventLog()->logImportantEvent(MessageFormat::format(text(QStringLiteral("broker.unusable.0")), why));
        publisher_.reset();
        publisherKey_.clear();
        return nullptr;
    }
    // The other running instruments publish through the new one as well.
    for (ConnectionPresenter* p : presenters_)
        p->attachPublisher(publisher_.get());
    return publisher_.get();
}

QString VororaZeZovFrame2::tabTitle(int pos) const {
    const QString mnemonic = text(QString::fromLatin1(kTabs[pos].mnemonic));
    QString title = TabTexts::withMnemonic(text(QString::fromLatin1(kTabs[pos].title)),
                                           mnemonic.isEmpty() ? QChar() : mnemonic.at(0));
    // The tabs that edit one instrument name it at a station of several.
    if (profiles_.size() > 1 && (pos == InputTab || pos == ProcessingTab || pos == OutputTab))
        title +=
            QStringLiteral(" \u2014 ") + TabTexts::withMnemonic(profiles_[size_t(selected_)].name, QChar());
    return title;
}

void VororaZeZovFrame2::showTabTitles() {
    for (int pos = InputTab; pos <= OutputTab; ++pos)
        if (const int at = tabbedPane_->indexOf(panels_[pos]); at >= 0)
            tabbedPane_->setTabText(at, tabTitle(pos));
}

void VororaZeZovFrame2::showStation() {
    // The names lead the log and status lines only where there is more than one.
    const bool several = profiles_.size() > 1;
    std::vector<StartPanel::Row> rows(profiles_.size());
    for (size_t i = 0; i < profiles_.size(); ++i)
        presenters_[i]->setProfileName(several ? profiles_[i].name : QString());
    start_->showProfiles(rows, selected_);
    for (ConnectionPresenter* p : presenters_)
        showProfileRow(p);
    start_->setCanAdd(profileCount() < kMaxProfiles);
    showTabTitles();
    showTrayStatus();
}

void VororaZeZovFrame2::showProfileRow(ConnectionPresenter* p) {
    const auto at = std::find(presenters_.begin(), presenters_.end(), p);
    if (at == presenters_.end())
        return;
    const int index = int(at - presenters_.begin());
    StartPanel::Row row;
    row.name = profiles_[size_t(index)].name;
    row.port = p->state() == ConnectionPresenter::State::Idle ? profileConfig(index).getPort() : p->port();
    switch (p->state()) {
    case ConnectionPresenter::State::Idle:
        row.state = text(QStringLiteral("profile.state.idle"));
        break;
    case ConnectionPresenter::State::Connecting:
        row.state = text(QStringLiteral("profile.state.connecting"));
        break;
    case ConnectionPresenter::State::Connected:
        row.state = text(QStringLiteral("profile.state.connected"));
        break;
    case ConnectionPresenter::State::Waiting:
        row.state = text(QStringLiteral("profile.state.waiting"));
        break;
    }
    row.lastValue = p->lastValue();
    row.active = p->isActive() || p->state() != ConnectionPresenter::State::Idle;
    start_->updateRow(index, row);
}

void VororaZeZovFrame2::showSelectedState() {
    switch (presenter()->state()) {
    case ConnectionPresenter::State::Connecting:
        applyConnectingState();
        break;
    case ConnectionPresenter::State::Connected:
    case ConnectionPresenter::State::Waiting:
        applyConnectedState(true);
        break;
    case ConnectionPresenter::State::Idle:
        applyConnectedState(false);
        break;
    }
}

void VororaZeZovFrame2::selectProfile(int index) {
    if (index < 0 || index >= profileCount() || index == selected_)
        return;
    // What the tabs hold belongs to the instrument shown so far.
    updateConfigFromTabs();
    storeSelected();
    if (config::Config::hasChanged(config_, oldConfig_))
        stationChanged_ = true;
    const config::Config next = profileConfig(index);
    selected_ = index;
    config_ = next;
    oldConfig_ = config::Config::copyConfig(config_);
    fillFromConfig();
    start_->showProfiles(std::vector<StartPanel::Row>(profiles_.size()), selected_);
    for (ConnectionPresenter* p : presenters_)
        showProfileRow(p);
    showTabTitles();
    showSelectedState();
}

QString VororaZeZovFrame2::portRefused(int index, const QString& port) const {
    if (config::Profiles::portIdentity(port).isEmpty())
        return {};
    for (int i = 0; i < profileCount(); ++i) {
        // The selected instrument's port is the one of the tabs' record.
        const QString used = i == selected_ ? config_.getPort() : profiles_[size_t(i)].config.getPort();
        if (i != index && config::Profiles::portIdentity(used) == config::Profiles::portIdentity(port))
            return MessageFormat::format(text(QStringLiteral("profile.port.used.0.1")), port,
                                         profiles_[size_t(i)].name);
    }
    return {};
}

QString VororaZeZovFrame2::checkProfileName(int index, const QString& name) const {
    // The rules are the store's (Profiles::checkName); the window says them in its language.
    const QString refused = config::Profiles::checkName(profiles_, index, name);
    if (refused.isEmpty())
        return {};
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return text(QStringLiteral("profile.name.empty"));
    if (trimmed.size() > config::Profiles::MAX_NAME_LENGTH)
        return MessageFormat::format(text(QStringLiteral("profile.name.long.0")),
                                     config::Profiles::MAX_NAME_LENGTH);
    if (const int other = config::Profiles::find(profiles_, trimmed); other >= 0 && other != index)
        return MessageFormat::format(text(QStringLiteral("profile.name.taken.0")),
                                     profiles_[size_t(other)].name);
    for (const QChar c : trimmed)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Separator_Line ||
            c.category() == QChar::Separator_Paragraph)
            return text(QStringLiteral("profile.name.control"));
    return refused;
}

QString VororaZeZovFrame2::addProfile(const QString& name) {
    QString refused;
    if (profileCount() >= kMaxProfiles)
        refused = MessageFormat::format(text(QStringLiteral("profile.max.0")), kMaxProfiles);
    else
        refused = checkProfileName(-1, name);
    if (!refused.isEmpty()) {
        MessageBoxes::error(this, refused, text(QStringLiteral("error")));
        return refused;
    }
    updateConfigFromTabs();
    storeSelected();
    // The settings of a first start with the program-wide ones, on the first port no other instrument
    // uses.
    config::Config c = config::Profiles::newProfileConfig(config_);
    for (const QString& port : input_->ports())
        if (portRefused(-1, port).isEmpty()) {
            c.setPort(port);
            break;
        }
    profiles_.push_back({name.trimmed(), std::move(c)});
    presenters_.push_back(makePresenter());
    stationChanged_ = true;
    showStation();
    // The new instrument is the one the tabs show.
    selectProfile(profileCount() - 1);
    return {};
}

QString VororaZeZovFrame2::renameProfile(int index, const QString& name) {
    if (index < 0 || index >= profileCount())
        return {};
    if (const QString refused = checkProfileName(index, name); !refused.isEmpty()) {
        MessageBoxes::error(this, refused, text(QStringLiteral("error")));
        return refused;
    }
    if (profiles_[size_t(index)].name == name.trimmed())
        return {};
    profiles_[size_t(index)].name = name.trimmed();
    stationChanged_ = true;
    showStation();
    return {};
}

bool VororaZeZovFrame2::removeProfile(int index) {
    if (index < 0 || index >= profileCount() || profileCount() == 1)
        return false;
    if (!MessageBoxes::confirm(
            this, MessageFormat::format(text(QStringLiteral("profile.remove.confirm.0")), profileName(index)),
            text(QStringLiteral("confirm")), MessageBoxes::Choice::NoYes))
        return false;
    // A running instrument ends first (its last value finished or reported, its data log closed).
    ConnectionPresenter* p = presenters_[size_t(index)];
    if (p->isActive())
        p->stop();
    delete p;
    if (index == selected_) {
        profiles_.erase(profiles_.begin() + index);
        presenters_.erase(presenters_.begin() + index);
        const int next = std::max(0, index - 1);
        // The program-wide settings stay those of the tabs.
        config::Config c = profiles_[size_t(next)].config;
        for (const QString& key : config::Profiles::programWideKeys())
            c.setByKey(key, config_.getByKey(key));
        selected_ = next;
        config_ = c;
        oldConfig_ = config::Config::copyConfig(config_);
        fillFromConfig();
    } else {
        profiles_.erase(profiles_.begin() + index);
        presenters_.erase(presenters_.begin() + index);
        if (index < selected_)
            --selected_;
    }
    stationChanged_ = true;
    showStation();
    showSelectedState();
    return true;
}

void VororaZeZovFrame2::askAddProfile() {
    if (profileCount() >= kMaxProfiles) {
        MessageBoxes::error(this, MessageFormat::format(text(QStringLiteral("profile.max.0")), kMaxProfiles),
                            text(QStringLiteral("error")));
        return;
    }
    QString proposal;
    for (int i = profileCount(); proposal.isEmpty() || !checkProfileName(-1, proposal).isEmpty(); ++i)
        proposal = config::Profiles::defaultName(i);
    while (true) {
        const auto name = MessageBoxes::askText(this, text(QStringLiteral("profile.add.label")),
                                                text(QStringLiteral("profile.add.title")), proposal);
        if (!name || addProfile(*name).isEmpty())
            return;
        proposal = *name;
    }
}

void VororaZeZovFrame2::askRenameProfile(int index) {
    if (index < 0 || index >= profileCount())
        return;
    QString proposal = profileName(index);
    while (true) {
        const auto name = MessageBoxes::askText(this, text(QStringLiteral("profile.rename.label")),
                                                text(QStringLiteral("profile.rename.title")), proposal);
        if (!name || renameProfile(index, *name).isEmpty())
            return;
        proposal = *name;
    }
}

void VororaZeZovFrame2::startStopProfile(int index) {
    ConnectionPresenter* p = presenterOf(index);
    if (p && !p->stopOrBusy())
        startConnection(index);
}

void VororaZeZovFrame2::startAll() {
    for (int i = 0; i < profileCount(); ++i)
        if (!presenters_[size_t(i)]->isActive())
            startConnection(i);
}

void VororaZeZovFrame2::stopAll() {
    for (ConnectionPresenter* p : presenters_)
        if (p->isActive() || p->state() != ConnectionPresenter::State::Idle)
            p->stop();
}

} // namespace vornal
