// vornal-cli type: types a text into the focused window through the keystroke output, the way a
// connection types a value (without start and terminator keys).
#include "Cli.h"
#include "Store.h"

#include "vornal/config/Config.h"
#include "vornal/worker/Keybot.h"
#include "vornal/worker/WeightWorkerView.h"

#include <mutex>

namespace {

using namespace vornal;
using KeyboardType = config::ConfigHelper::KeyboardType;
using KeyMapType = config::ConfigHelper::KeyMapType;

// Keystroke problems (characters the layout cannot type, refused keys) go to standard error.
class ProblemView : public worker::WeightWorkerView {
public:
    explicit ProblemView(cli::Io& io) : io_(io) {}
    void logEvent(const QString&) override {}
    void logImportantEvent(const QString& text) override {
        std::lock_guard lock(mutex_);
        io_.err << "vornal-cli type: " << text << Qt::endl;
        ++count_;
    }
    void setConnectedInGUI(bool) override {}
    void update(const worker::DataLine&) override {}
    int count() const {
        std::lock_guard lock(mutex_);
        return count_;
    }

private:
    cli::Io& io_;
    mutable std::mutex mutex_;
    int count_ = 0;
};

template <class E> QString names() {
    QStringList n;
    for (const auto& v : E::values())
        n += v.name();
    return n.join(u' ');
}

int runType(cli::Invocation& inv, cli::Io& io) {
    QString error;
    const auto layoutName = cli::takeValue(inv.args, QStringLiteral("--layout"), &error);
    const auto keymapName = cli::takeValue(inv.args, QStringLiteral("--keymap"), &error);
    const auto delayText = cli::takeValue(inv.args, QStringLiteral("--delay"), &error);
    const auto backendName = cli::takeValue(inv.args, QStringLiteral("--backend"), &error);
    if (!error.isEmpty())
        return cli::fail(io, inv, error, cli::Usage);
    const auto rest = cli::positional(inv.args, &error);
    if (!rest)
        return cli::fail(io, inv, error, cli::Usage);
    if (rest->size() != 1)
        return cli::fail(io, inv, QStringLiteral("give exactly one TEXT to type (quote it if it has blanks)"),
                         cli::Usage);

    // Defaults from the stored settings: layout and delay.
    config::Config stored;
    try {
        stored.loadConfig(*cli::openSettingsNode(inv), {});
    } catch (const std::exception&) {
        stored = config::Config();
    }
    KeyboardType layout = stored.getKeyboardType();
    if (layoutName) {
        const auto v = KeyboardType::fromUserText(*layoutName); // QWERTY too
        if (!v)
            return cli::fail(io, inv,
                             QStringLiteral("unknown layout '%1'; the layouts are: %2")
                                 .arg(*layoutName, names<KeyboardType>()),
                             cli::Usage);
        layout = *v;
    }
    KeyMapType keymap = KeyMapType::ALPHANUMERIC_COMPLETE;
    if (keymapName) {
        const auto v = KeyMapType::valueOf(*keymapName);
        if (!v)
            return cli::fail(io, inv,
                             QStringLiteral("unknown key map '%1'; the key maps are: %2")
                                 .arg(*keymapName, names<KeyMapType>()),
                             cli::Usage);
        keymap = *v;
    }
    int delay = stored.getDelayAsInt();
    if (delayText) {
        bool ok = false;
        delay = delayText->toInt(&ok);
        if (!ok || delay < 0 || delay > 60000)
            return cli::fail(io, inv,
                             QStringLiteral("--delay '%1' is not a number of milliseconds from 0 to 60000")
                                 .arg(*delayText),
                             cli::Usage);
    }

    // The backend: forced with --backend, else chosen from the session; the choice goes to stderr.
    std::unique_ptr<platform::KeyInjector> injector;
    platform::KeyInjectorChoice choice;
    try {
        injector =
            worker::Keybot::createInjector(layout, backendName.value_or(QStringLiteral("auto")), &choice);
    } catch (const std::invalid_argument& e) {
        return cli::fail(io, inv, QString::fromUtf8(e.what()), cli::Usage);
    } catch (const std::exception& e) {
        return cli::fail(io, inv, QString::fromUtf8(e.what()));
    }
    for (const auto& n : choice.notTaken)
        io.err << "vornal-cli type: not typing through " << QString::fromStdString(n) << Qt::endl;
    io.err << "vornal-cli type: typing through " << QString::fromStdString(injector->name()) << Qt::endl;
    if (!choice.warning.empty())
        io.err << "vornal-cli type: warning: " << QString::fromStdString(choice.warning) << Qt::endl;

    ProblemView view(io);
    std::unique_ptr<worker::Keybot> bot;
    try {
        bot = std::make_unique<worker::Keybot>(delay, 0, 0, 0, 0, layout, keymap, &view, std::move(injector));
    } catch (const std::exception& e) {
        return cli::fail(io, inv, QString::fromUtf8(e.what()));
    }
    if (bot->capsLockOn().value_or(false))
        io.err << "vornal-cli type: Caps Lock is on; capitals and letters may come out in the wrong case"
               << Qt::endl;
    bot->start();
    bot->add(rest->first());
    while (!bot->waitUntilIdle(1000)) {
    }
    bot->stop();
    // Success is every key of the text sent; a warning (typing falls behind) is no failure.
    const auto results = bot->takeResults();
    if (rest->first().isEmpty())
        return cli::Ok;
    if (results.size() != 1)
        return cli::Failure;
    const worker::Keybot::Result& r = results.front();
    // Anything else has been reported on standard error by the keystroke output.
    return r.kind == worker::Keybot::Result::Kind::Typed ? cli::Ok : cli::Failure;
}

#if defined(_WIN32)
#define VORNAL_TYPE_BACKENDS "auto|windows"
#else
#define VORNAL_TYPE_BACKENDS "auto|wayland|portal|x11"
#endif

cli::Register reg{{"type",
                   "type [--layout NAME] [--keymap NAME] [--delay MS] [--backend " VORNAL_TYPE_BACKENDS
                   "] [--] TEXT",
                   "type TEXT into the focused window as key presses (layout and delay: stored settings; "
                   "the backend is chosen from the session unless --backend names one)",
                   &runType}};

} // namespace
