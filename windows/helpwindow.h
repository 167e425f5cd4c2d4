#pragma once
// The help window (Form8): the program's help document, Help.rtf from the
// program folder, above a "Show at Startup" box tied to the "showHelp"
// setting. It is loaded anew at every opening and unloaded when closed.

#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

class QCheckBox;
class QTextBrowser;

namespace Ui {
class Form8;
}

namespace wendral {

class Form8 : public QWidget
{
    Q_OBJECT
public:
    // Creates and loads the window (not shown). Prefer open().
    explicit Form8(QWidget *parent = nullptr);
    ~Form8() override;

    // Loads the window when it is not loaded, shows it modeless (centred when
    // it is new) and returns it. The caller may then stack it (the main window
    // makes it topmost when it is itself always on top).
    static Form8 *open();
    // The loaded window, or null when none is.
    static Form8 *instance();

    // The help document: "Help.rtf" in the program folder.
    static QString documentPath();

    QTextBrowser *rtf1() const;
    QCheckBox *check1() const;
    // True when the document was found and read into rtf1.
    bool documentLoaded() const { return m_documentLoaded; }

private:
    void Form_Load();
    void Check1_Click(bool checked);

    std::unique_ptr<Ui::Form8> ui;
    bool m_documentLoaded = false;
};

// The start-up test of the main window: only the exact stored text "1" (the
// default when nothing is stored) opens the help window by itself.
bool helpWantedAtStartup();

} // namespace wendral
