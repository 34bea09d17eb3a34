// A Wayland-native text field for the typing tests: shows one QPlainTextEdit with the focus and writes its
// whole text to the file named by the first argument after every change (through a rename, so the test
// never reads half a text). An empty file is written once the window has the keyboard focus.
#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QWindow>

namespace {
void save(const QString& path, const QString& text) {
    QSaveFile f(path);
    if (f.open(QIODevice::WriteOnly)) {
        f.write(text.toUtf8());
        f.commit();
    }
}
} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const QString path = QString::fromLocal8Bit(argv[1]);
    QPlainTextEdit edit;
    QObject::connect(&edit, &QPlainTextEdit::textChanged, [&] { save(path, edit.toPlainText()); });
    QObject::connect(&app, &QGuiApplication::focusWindowChanged, [&](QWindow* w) {
        if (w)
            save(path + QStringLiteral(".ready"), QString());
    });
    edit.resize(800, 400);
    edit.show();
    edit.activateWindow();
    edit.setFocus();
    return app.exec();
}
