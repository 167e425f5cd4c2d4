#pragma once
// The optional skin. When the profile's skinEnabled flag is set, every window
// is drawn with one skin of our own: its colours go to the standard controls
// by kind, plain labels are doubled by skin labels lying over them, and a
// companion object is told when the program starts and ends. With the flag
// off (this build) none of it runs: the *Step functions below return at once
// and no skin object or companion is ever created.
//
// Control kinds: a widget's dynamic property "controlKind" names its kind as
// the layouts declare it ("CommandButton", "TextBox", "Label", "PictureBox",
// "SkinLabelTemplate", ...). Widgets without it get a kind from their class
// (see controlKind()). A window's control collection is its named widgets,
// depth first; unnamed widgets and Qt's own "qt_" internals are not controls.

#include "core/profile.h"

#include <QColor>
#include <QLabel>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

namespace wendral {

// The one skin shared by every window.
class Skin : public QObject
{
    Q_OBJECT
public:
    // Colour ids of the skin: control background, control text, picture-box
    // background and a fourth colour that is read but not used.
    enum ColourId
    {
        ControlBack = 2,
        ControlText = 3,
        PanelBack = 4,
        Spare = 5
    };

    explicit Skin(QObject *parent = nullptr);

    // The colour with that id; an invalid QColor for any other id.
    QColor colour(int id) const;
    void setColour(int id, const QColor &colour); // ids 2 to 5 only

    // Draws the window with the skin from now on (its palette and frame
    // colours); the controls keep what colorControls gave them.
    void apply(QWidget *window);
    bool isApplied(const QWidget *window) const;
    int appliedCount() const;

    // The value handed to the companion object at start-up: the name of the
    // window that hosts the skin (empty when none was given).
    QVariant containerValue() const;
    void setContainer(QWidget *host);

    // Background of the windows the skin draws, and their text colour.
    static QColor windowBack();
    static QColor windowText();

private:
    QColor m_colours[4];
    QList<QPointer<QWidget>> m_applied;
    QPointer<QWidget> m_host;
};

// The companion object: told once at start-up (attach, then start) and once
// when the program ends (end). This build ships none; tests install one.
class SkinCompanion
{
public:
    virtual ~SkinCompanion() = default;
    virtual void attach(const QVariant &value) = 0;
    virtual void start() = 0;
    virtual void end() = 0;
};

// Colours the controls of a window by kind, in collection order:
// CommandButton -> background := back; TextBox, ComboBox, FileListBox,
// DirListBox, DriveListBox, ListBox, ListView -> background := back and text
// := fore; PictureBox -> background := panel; everything else is left alone.
// spare is not used.
void colorControls(QWidget *form, const QColor &back, const QColor &fore, const QColor &panel, const QColor &spare);

// The kind of a control: its "controlKind" property when set, else derived
// from its class (QPushButton/QToolButton "CommandButton", QLineEdit
// "TextBox", QComboBox "ComboBox", QListWidget "ListBox", other QListView
// "ListView", QTextEdit/QPlainTextEdit "RichTextBox", QCheckBox "CheckBox",
// QRadioButton "OptionButton", QGroupBox "Frame", QStatusBar "StatusBar",
// QLabel "Label" except a panel of a status bar ("Panel") and a skin-label
// template named like SkinLabel1_0 ("SkinLabelTemplate"); anything else
// its class name).
QString controlKind(const QWidget *control);
// The window's control collection (see above), depth first.
QList<QWidget *> controlCollection(QWidget *window);

// Which skin-label array a label is doubled into.
struct SkinLabelRules
{
    // Arrays by name (element 0 is the template "<name>_0"), tried in order.
    QStringList arrays;
    // false: a label goes into the first array whose template shares its
    // container, and is skipped when none does. true: every label goes into
    // the first array whatever its container.
    bool anyContainer = false;

    static SkinLabelRules byContainer(const QStringList &arrays) { return {arrays, false}; }
    static SkinLabelRules always(const QString &array) { return {QStringList{array}, true}; }
};

// A skin label: a label of the skin that lies over a plain label. It lets
// mouse events through, so a clickable label under it still gets its clicks.
class SkinLabel : public QLabel
{
    Q_OBJECT
public:
    explicit SkinLabel(QWidget *parent = nullptr);
};

// Doubles each plain label ("Label" kind) of the window into a new element of
// the array the rules choose: element n = the array's upper bound + 1, named
// "<array>_<n>", created in the container of element 0, with the label's Top,
// Left, Height, Width, font, caption and visibility copied in that order (the
// geometry numbers are copied as they are, so a label from another container
// keeps its own Top and Left in the template's container). Labels are left
// unchanged. Returns the new skin labels. A window without the template of an
// array simply gets no labels in that array.
QList<SkinLabel *> cloneLabelsToSkinLabels(QWidget *window, const SkinLabelRules &rules);
// The elements of a skin-label array that exist now, by index (0 first).
QList<QLabel *> skinLabelArray(QWidget *window, const QString &array);

// The skin of one run: the skin object, created on first use, and the
// companion. Every step does nothing unless the profile enables the skin.
class SkinEngine
{
public:
    // Neither is owned; the profile must outlive the engine.
    explicit SkinEngine(const BrandingProfile &profile, SkinCompanion *companion = nullptr);
    ~SkinEngine();

    void setCompanion(SkinCompanion *companion) { m_companion = companion; }

    // The skin object; null until something creates it.
    Skin *skinObject() const { return m_skin.get(); }
    Skin &createSkinObject();

    // Applies the skin to one window: the four colours are read (ids 2, 3, 4,
    // 5), colorControls colours the controls, then the skin draws the window.
    // When no skin object exists yet it is created first.
    void skinForm(QWidget *form);

    // A window's load: double the labels, then skinForm.
    void loadStep(QWidget *window, const SkinLabelRules &rules);
    // The help window's load: skinForm only.
    void formStep(QWidget *window);
    // The splash window's load: create the skin object hosted by the splash,
    // skinForm(splash), then attach and start the companion.
    void startupStep(QWidget *splash);
    // The program's end: the companion's end call.
    void shutdownStep();

private:
    const BrandingProfile &m_profile;
    SkinCompanion *m_companion;
    std::unique_ptr<Skin> m_skin;
};

} // namespace wendral
