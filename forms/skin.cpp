#include "forms/skin.h"

#include "core/profile.h"
#include "forms/formtools.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTextEdit>
#include <QToolButton>

#include <algorithm>
#include <memory>

namespace wendral {
namespace {

bool validId(int id)
{
    return id >= Skin::ControlBack && id <= Skin::Spare;
}

void setRole(QWidget *w, QPalette::ColorRole role, const QColor &colour)
{
    QPalette p = w->palette();
    p.setColor(QPalette::All, role, colour);
    w->setPalette(p);
}

// "SkinLabel1_3" -> 3 when the prefix is the array's name, else -1.
int elementIndex(const QString &objectName, const QString &array)
{
    static const QRegularExpression re(QStringLiteral("^(.+)_(\\d+)$"));
    const QRegularExpressionMatch m = re.match(objectName);
    if (!m.hasMatch() || m.captured(1) != array)
        return -1;
    bool ok = false;
    const int n = m.captured(2).toInt(&ok);
    return ok ? n : -1;
}

} // namespace

Skin::Skin(QObject *parent) : QObject(parent)
{
    // Our own skin: a deep blue window with light controls.
    m_colours[0] = QColor(0xDC, 0xE3, 0xF2); // control background
    m_colours[1] = QColor(0x14, 0x21, 0x3D); // control text
    m_colours[2] = QColor(0x25, 0x34, 0x5A); // picture-box background
    m_colours[3] = QColor(0x8A, 0x9B, 0xC4); // spare
}

QColor Skin::colour(int id) const
{
    return validId(id) ? m_colours[id - ControlBack] : QColor();
}

void Skin::setColour(int id, const QColor &colour)
{
    if (validId(id))
        m_colours[id - ControlBack] = colour;
}

QColor Skin::windowBack()
{
    return QColor(0x33, 0x44, 0x6B);
}
QColor Skin::windowText()
{
    return QColor(0xF1, 0xF4, 0xFA);
}

void Skin::apply(QWidget *window)
{
    if (!window)
        return;
    // Only the roles the controls did not take from colorControls change: a
    // palette set on a child keeps the roles it set itself.
    QPalette p = window->palette();
    p.setColor(QPalette::All, QPalette::Window, windowBack());
    p.setColor(QPalette::All, QPalette::WindowText, windowText());
    window->setPalette(p);
    window->setAutoFillBackground(true);
    if (!isApplied(window))
        m_applied.append(window);
}

bool Skin::isApplied(const QWidget *window) const
{
    return std::any_of(m_applied.cbegin(), m_applied.cend(),
                       [window](const QPointer<QWidget> &w) { return w && w.data() == window; });
}

int Skin::appliedCount() const
{
    return static_cast<int>(
        std::count_if(m_applied.cbegin(), m_applied.cend(), [](const auto &w) { return !w.isNull(); }));
}

QVariant Skin::containerValue() const
{
    return m_host ? QVariant(m_host->objectName()) : QVariant(QString());
}

void Skin::setContainer(QWidget *host)
{
    m_host = host;
}

SkinEngine::SkinEngine(const BrandingProfile &profile, SkinCompanion *companion)
    : m_profile(profile), m_companion(companion)
{}

SkinEngine::~SkinEngine() = default;

Skin &SkinEngine::createSkinObject()
{
    if (!m_skin)
        m_skin = std::make_unique<Skin>();
    return *m_skin;
}

void SkinEngine::skinForm(QWidget *form)
{
    if (!form)
        return;
    Skin &skin = createSkinObject();
    const QColor back = skin.colour(Skin::ControlBack);
    const QColor fore = skin.colour(Skin::ControlText);
    const QColor panel = skin.colour(Skin::PanelBack);
    const QColor spare = skin.colour(Skin::Spare);
    colorControls(form, back, fore, panel, spare);
    skin.apply(form);
}

void colorControls(QWidget *form, const QColor &back, const QColor &fore, const QColor &panel, const QColor &spare)
{
    Q_UNUSED(spare);
    static const QStringList listLike = {QStringLiteral("TextBox"),      QStringLiteral("ComboBox"),
                                         QStringLiteral("FileListBox"),  QStringLiteral("DirListBox"),
                                         QStringLiteral("DriveListBox"), QStringLiteral("ListBox"),
                                         QStringLiteral("ListView")};
    for (QWidget *control : controlCollection(form)) {
        const QString kind = controlKind(control);
        if (kind == QLatin1String("CommandButton")) {
            setRole(control, QPalette::Button, back);
        } else if (listLike.contains(kind)) {
            QPalette p = control->palette();
            p.setColor(QPalette::All, QPalette::Base, back);
            p.setColor(QPalette::All, QPalette::Text, fore);
            control->setPalette(p);
        } else if (kind == QLatin1String("PictureBox")) {
            setRole(control, QPalette::Window, panel);
            control->setAutoFillBackground(true);
        }
    }
}

QString controlKind(const QWidget *control)
{
    if (!control)
        return {};
    const QVariant declared = control->property("controlKind");
    if (declared.isValid() && !declared.toString().isEmpty())
        return declared.toString();
    if (qobject_cast<const SkinLabel *>(control))
        return QStringLiteral("SkinLabel");
    if (qobject_cast<const QPushButton *>(control) || qobject_cast<const QToolButton *>(control))
        return QStringLiteral("CommandButton");
    if (qobject_cast<const QCheckBox *>(control))
        return QStringLiteral("CheckBox");
    if (qobject_cast<const QRadioButton *>(control))
        return QStringLiteral("OptionButton");
    if (qobject_cast<const QLineEdit *>(control))
        return QStringLiteral("TextBox");
    if (qobject_cast<const QComboBox *>(control))
        return QStringLiteral("ComboBox");
    if (qobject_cast<const QListWidget *>(control))
        return QStringLiteral("ListBox");
    if (qobject_cast<const QListView *>(control))
        return QStringLiteral("ListView");
    if (qobject_cast<const QTextEdit *>(control) || qobject_cast<const QPlainTextEdit *>(control))
        return QStringLiteral("RichTextBox");
    if (qobject_cast<const QGroupBox *>(control))
        return QStringLiteral("Frame");
    if (qobject_cast<const QStatusBar *>(control))
        return QStringLiteral("StatusBar");
    if (qobject_cast<const QLabel *>(control)) {
        if (qobject_cast<const QStatusBar *>(control->parentWidget()))
            return QStringLiteral("Panel");
        static const QRegularExpression templateName(QStringLiteral("^SkinLabel\\d*_0$"));
        if (templateName.match(control->objectName()).hasMatch())
            return QStringLiteral("SkinLabelTemplate");
        return QStringLiteral("Label");
    }
    return QString::fromLatin1(control->metaObject()->className());
}

QList<QWidget *> controlCollection(QWidget *window)
{
    QList<QWidget *> controls;
    for (QWidget *w : controlsOf(window)) {
        const QString name = w->objectName();
        if (name.isEmpty() || name.startsWith(QLatin1String("qt_")))
            continue;
        controls.append(w);
    }
    return controls;
}

SkinLabel::SkinLabel(QWidget *parent) : QLabel(parent)
{
    // A skin label hides the label under it, as a windowed control would.
    setAutoFillBackground(true);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QList<QLabel *> skinLabelArray(QWidget *window, const QString &array)
{
    QList<std::pair<int, QLabel *>> found;
    if (!window)
        return {};
    for (QLabel *label : window->findChildren<QLabel *>()) {
        const int n = elementIndex(label->objectName(), array);
        if (n >= 0)
            found.append({n, label});
    }
    std::stable_sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    QList<QLabel *> labels;
    for (const auto &entry : found)
        labels.append(entry.second);
    return labels;
}

QList<SkinLabel *> cloneLabelsToSkinLabels(QWidget *window, const SkinLabelRules &rules)
{
    QList<SkinLabel *> created;
    if (!window)
        return created;

    struct Array
    {
        QString name;
        QWidget *container = nullptr;
        int upper = -1;
    };
    QList<Array> arrays;
    for (const QString &name : rules.arrays) {
        Array a;
        a.name = name;
        const QList<QLabel *> elements = skinLabelArray(window, name);
        for (QLabel *element : elements) {
            const int n = elementIndex(element->objectName(), name);
            if (n == 0)
                a.container = element->parentWidget();
            a.upper = std::max(a.upper, n);
        }
        arrays.append(a);
    }

    // The collection is taken before any element is loaded, so the new skin
    // labels are not visited themselves.
    const QList<QWidget *> controls = controlCollection(window);
    for (QWidget *control : controls) {
        auto *label = qobject_cast<QLabel *>(control);
        if (!label || controlKind(label) != QLatin1String("Label"))
            continue;
        Array *target = nullptr;
        if (rules.anyContainer) {
            if (!arrays.isEmpty() && arrays.first().container)
                target = &arrays.first();
        } else {
            for (Array &a : arrays) {
                if (a.container && a.container == label->parentWidget()) {
                    target = &a;
                    break;
                }
            }
        }
        if (!target)
            continue;

        const int n = ++target->upper;
        auto *skinLabel = new SkinLabel(target->container);
        skinLabel->setObjectName(target->name + QLatin1Char('_') + QString::number(n));
        skinLabel->move(label->x(), label->y());
        skinLabel->resize(label->width(), label->height());
        skinLabel->setFont(label->font());
        // The caption is drawn the way the label draws it.
        skinLabel->setTextFormat(label->textFormat());
        skinLabel->setWordWrap(label->wordWrap());
        skinLabel->setAlignment(label->alignment());
        skinLabel->setText(label->text());
        skinLabel->setVisible(!label->isHidden());
        skinLabel->raise();
        created.append(skinLabel);
    }
    return created;
}

void SkinEngine::loadStep(QWidget *window, const SkinLabelRules &rules)
{
    if (!m_profile.skinEnabled)
        return;
    cloneLabelsToSkinLabels(window, rules);
    skinForm(window);
}

void SkinEngine::formStep(QWidget *window)
{
    if (!m_profile.skinEnabled)
        return;
    skinForm(window);
}

void SkinEngine::startupStep(QWidget *splash)
{
    if (!m_profile.skinEnabled)
        return;
    createSkinObject().setContainer(splash);
    skinForm(splash);
    if (m_companion) {
        m_companion->attach(m_skin->containerValue());
        m_companion->start();
    }
}

void SkinEngine::shutdownStep()
{
    if (m_profile.skinEnabled && m_companion)
        m_companion->end();
}

} // namespace wendral
