#pragma once
// The help window: the program's help document, Help.rtf from the
// program folder, above a "Show at Startup" box tied to the "showHelp"
// setting. It is loaded anew at every opening and unloaded when closed.

#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

class QCheckBox;
class QTextBrowser;

namespace Ui {
class HelpWindow;
}

namespace wendral {

struct UiContext;
class SettingsStore;

class HelpWindow : public QWidget
{
    Q_OBJECT
public:
    // Creates and loads the window (not shown). Prefer open().
    explicit HelpWindow(UiContext &context);
    ~HelpWindow() override;

    // Loads the window when it is not loaded, shows it modeless (centred when
    // it is new) and returns it. The caller may then stack it (the main window
    // makes it topmost when it is itself always on top).
    static HelpWindow *open(UiContext &context);

    // The help document: "Help.rtf" in the program folder.
    static QString documentPath();

    QTextBrowser *document() const;
    QCheckBox *showAtStartupBox() const;
    // True when the document was found and read into the document view.
    bool documentLoaded() const { return m_documentLoaded; }

private:
    void load();
    void onShowAtStartupToggled(bool checked);

    std::unique_ptr<Ui::HelpWindow> ui;
    UiContext &m_context;
    bool m_documentLoaded = false;
};

// The start-up test of the main window: only the exact stored text "1" (the
// default when nothing is stored) opens the help window by itself.
bool helpWantedAtStartup(const SettingsStore &settings);

} // namespace wendral
