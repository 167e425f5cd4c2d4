// The skin layer: nothing of it with the flag off; with it on, colours by
// control kind, skin labels by each window's rule, and the companion's calls.

#include "core/profile.h"
#include "forms/skin.h"
#include "support/programfixture.h"
#include "support/recordingskincompanion.h"
#include "support/testenv.h"
#include "ui/aboutwindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QTextEdit>
#include <QToolButton>
#include <QtTest>

using namespace wendral;

namespace {

QLabel *addLabel(QWidget *parent, const QString &name, const QRect &geometry, const QString &text)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setGeometry(geometry);
    return l;
}

QLabel *addTemplate(QWidget *parent, const QString &name)
{
    QLabel *t = addLabel(parent, name, QRect(300, 60, 37, 9), QString());
    t->setVisible(false);
    return t;
}

// Shaped like the main window: a template in each of two frames, a third
// frame without one, a label on the window itself and a status panel.
struct TwoFrameForm
{
    QWidget form;
    QGroupBox *frame2 = nullptr, *frame1 = nullptr, *frame3 = nullptr;
    QLabel *inFrame2a = nullptr, *inFrame2b = nullptr, *inFrame1 = nullptr, *inFrame3 = nullptr, *onForm = nullptr;

    TwoFrameForm()
    {
        form.setObjectName(QStringLiteral("Form1"));
        frame2 = new QGroupBox(&form);
        frame2->setObjectName(QStringLiteral("Frame2"));
        frame1 = new QGroupBox(&form);
        frame1->setObjectName(QStringLiteral("Frame1"));
        frame3 = new QGroupBox(&form);
        frame3->setObjectName(QStringLiteral("Frame3"));
        addTemplate(frame2, QStringLiteral("SkinLabel1_0"));
        addTemplate(frame1, QStringLiteral("SkinLabel2_0"));
        inFrame2a =
            addLabel(frame2, QStringLiteral("Label5"), QRect(24, 16, 469, 17), QStringLiteral("Popup Blocking"));
        QFont bold(QStringLiteral("Verdana"), 11);
        bold.setBold(true);
        inFrame2a->setFont(bold);
        inFrame2b = addLabel(frame2, QStringLiteral("Label6"), QRect(24, 32, 469, 17), QStringLiteral("Setup Mode"));
        inFrame2b->setVisible(false);
        inFrame1 = addLabel(frame1, QStringLiteral("Label3"), QRect(8, 17, 121, 17), QStringLiteral("Allowed Sites:"));
        inFrame1->setWordWrap(true);
        inFrame3 = addLabel(frame3, QStringLiteral("Label9"), QRect(8, 8, 50, 17), QStringLiteral("elsewhere"));
        onForm = addLabel(&form, QStringLiteral("Label10"), QRect(8, 8, 50, 17), QStringLiteral("on the form"));
        auto *bar = new QStatusBar(&form);
        bar->setObjectName(QStringLiteral("StatusBar1"));
        auto *panel = new QLabel(QStringLiteral("0 Popups blocked to date"), bar);
        panel->setObjectName(QStringLiteral("Panel1"));
        bar->addWidget(panel);
    }
};

} // namespace

class TestSkin : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void flagOffRunsNothing();
    void skinFormColoursControlsByKind();
    void coloursComeFromTheSkinObject();
    void labelsFollowTheirContainersTemplate();
    void secondRunAddsAFreshSet();
    void windowWithoutTemplatesGetsNoSkinLabels();
    void aboutWindowPutsEveryLabelOnTheWindow();
    void skinLabelsLetClicksThrough();
    void companionStartAndEnd();
    void endWithoutStartStillTellsTheCompanion();
    void withoutACompanionStartAndEndOnlySkin();

private:
    // The profile of this build, which leaves the skin off.
    BrandingProfile &profile() { return m_fx->profile; }
    SkinEngine &engine() { return m_fx->skin; }
    Skin *skinObject() { return m_fx->skin.skinObject(); }

    test::TestEnvironment m_env;
    std::unique_ptr<test::ProgramFixture> m_fx;
    test::RecordingSkinCompanion m_companion;
};

void TestSkin::init()
{
    m_companion = test::RecordingSkinCompanion();
    m_fx = std::make_unique<test::ProgramFixture>();
    m_fx->profile = BrandingProfile::fromBuild();
    m_fx->skin.setCompanion(&m_companion);
    QVERIFY(!profile().skinEnabled);
}

void TestSkin::cleanup()
{
    delete m_fx->windows.about.data();
    m_fx.reset();
}

void TestSkin::flagOffRunsNothing()
{
    TwoFrameForm f;
    QWidget splash;
    const QPalette before = f.form.palette();
    engine().startupStep(&splash);
    engine().loadStep(&f.form,
                      SkinLabelRules::byContainer({QStringLiteral("SkinLabel1"), QStringLiteral("SkinLabel2")}));
    engine().formStep(&f.form);
    engine().shutdownStep();
    AboutWindow about(m_fx->context);
    QVERIFY(!skinObject());
    QVERIFY(m_companion.calls().isEmpty());
    QVERIFY(f.form.findChildren<SkinLabel *>().isEmpty());
    QVERIFY(about.findChildren<SkinLabel *>().isEmpty());
    QCOMPARE(skinLabelArray(&about, QStringLiteral("SkinLabel1")).size(), 1);
    QCOMPARE(f.form.palette(), before);
}

void TestSkin::skinFormColoursControlsByKind()
{
    QWidget form;
    form.setObjectName(QStringLiteral("Form"));
    const auto add = [&form](QWidget *w, const char *name) {
        w->setParent(&form);
        w->setObjectName(QString::fromLatin1(name));
        return w;
    };
    QWidget *push = add(new QPushButton, "Command1");
    QWidget *tool = add(new QToolButton, "Command2");
    QWidget *text = add(new QLineEdit, "Text1");
    QWidget *combo = add(new QComboBox, "Combo1");
    QWidget *list = add(new QListWidget, "List1");
    QWidget *view = add(new QListView, "ListView1");
    auto *picture = qobject_cast<QFrame *>(add(new QFrame, "Picture1"));
    picture->setProperty("controlKind", QStringLiteral("PictureBox"));
    QWidget *declaredPicture = add(new QLabel, "Picture2");
    declaredPicture->setProperty("controlKind", QStringLiteral("PictureBox"));
    QWidget *check = add(new QCheckBox, "Check1");
    QWidget *rich = add(new QTextEdit, "RichTextBox1");
    auto *unnamed = new QLineEdit(&form); // no name: no control of the window
    QWidget *declaredButton = add(new QLabel, "Command9");
    declaredButton->setProperty("controlKind", QStringLiteral("CommandButton"));

    QVERIFY(!skinObject());
    engine().skinForm(&form);
    Skin *skin = skinObject();
    QVERIFY(skin); // created on first use
    const QColor back = skin->colour(Skin::ControlBack);
    const QColor fore = skin->colour(Skin::ControlText);
    const QColor panel = skin->colour(Skin::PanelBack);
    const QPalette plain = QApplication::palette();
    QVERIFY(back != plain.color(QPalette::Button) && back != plain.color(QPalette::Base));
    QVERIFY(fore != plain.color(QPalette::Text));

    for (QWidget *w : {push, tool, declaredButton})
        QVERIFY2(w->palette().color(QPalette::Button) == back, qPrintable(w->objectName()));
    for (QWidget *w : {text, combo, list, view}) {
        QVERIFY2(w->palette().color(QPalette::Base) == back, qPrintable(w->objectName()));
        QVERIFY2(w->palette().color(QPalette::Text) == fore, qPrintable(w->objectName()));
    }
    for (QWidget *w : {static_cast<QWidget *>(picture), declaredPicture}) {
        QVERIFY2(w->palette().color(QPalette::Window) == panel, qPrintable(w->objectName()));
        QVERIFY(w->autoFillBackground());
    }
    // Left alone: check boxes, rich text, and what is no control.
    QCOMPARE(check->palette().color(QPalette::Button), plain.color(QPalette::Button));
    QCOMPARE(rich->palette().color(QPalette::Base), plain.color(QPalette::Base));
    QCOMPARE(unnamed->palette().color(QPalette::Base), plain.color(QPalette::Base));
    // The window itself is drawn with the skin; the controls keep their colours.
    QVERIFY(skin->isApplied(&form));
    QCOMPARE(form.palette().color(QPalette::Window), Skin::windowBack());
    QCOMPARE(text->palette().color(QPalette::Base), back);
    QCOMPARE(check->palette().color(QPalette::Window), Skin::windowBack());
}

void TestSkin::coloursComeFromTheSkinObject()
{
    Skin &skin = engine().createSkinObject();
    skin.setColour(Skin::ControlBack, QColor(10, 20, 30));
    skin.setColour(Skin::ControlText, QColor(200, 100, 50));
    skin.setColour(Skin::PanelBack, QColor(1, 2, 3));
    skin.setColour(7, Qt::red); // no such colour: ignored
    QVERIFY(!skin.colour(7).isValid());
    QVERIFY(!skin.colour(1).isValid());
    QWidget form;
    auto *button = new QPushButton(&form);
    button->setObjectName(QStringLiteral("Command1"));
    auto *text = new QLineEdit(&form);
    text->setObjectName(QStringLiteral("Text1"));
    auto *picture = new QFrame(&form);
    picture->setObjectName(QStringLiteral("Picture1"));
    picture->setProperty("controlKind", QStringLiteral("PictureBox"));
    engine().formStep(&form); // flag off: nothing
    QVERIFY(!skin.isApplied(&form));
    profile().skinEnabled = true;
    engine().formStep(&form);
    QCOMPARE(skinObject(), &skin);
    QCOMPARE(button->palette().color(QPalette::Button), QColor(10, 20, 30));
    QCOMPARE(text->palette().color(QPalette::Text), QColor(200, 100, 50));
    QCOMPARE(picture->palette().color(QPalette::Window), QColor(1, 2, 3));
    // A window without labels only gets the skin.
    QVERIFY(form.findChildren<SkinLabel *>().isEmpty());
    QVERIFY(skin.isApplied(&form));
}

void TestSkin::labelsFollowTheirContainersTemplate()
{
    TwoFrameForm f;
    profile().skinEnabled = true;
    engine().loadStep(&f.form,
                      SkinLabelRules::byContainer({QStringLiteral("SkinLabel1"), QStringLiteral("SkinLabel2")}));

    const QList<QLabel *> one = skinLabelArray(&f.form, QStringLiteral("SkinLabel1"));
    const QList<QLabel *> two = skinLabelArray(&f.form, QStringLiteral("SkinLabel2"));
    QCOMPARE(one.size(), 3); // template + Label5 + Label6
    QCOMPARE(two.size(), 2); // template + Label3
    QCOMPARE(f.form.findChildren<SkinLabel *>().size(), 3);

    QLabel *a = one.at(1);
    QCOMPARE(a->objectName(), QStringLiteral("SkinLabel1_1"));
    QCOMPARE(a->parentWidget(), f.frame2);
    QCOMPARE(a->geometry(), f.inFrame2a->geometry());
    QCOMPARE(a->font(), f.inFrame2a->font());
    QCOMPARE(a->text(), f.inFrame2a->text());
    QVERIFY(!a->isHidden());
    QLabel *b = one.at(2);
    QCOMPARE(b->text(), QStringLiteral("Setup Mode"));
    QVERIFY(b->isHidden()); // a hidden label's twin is hidden too
    QLabel *c = two.at(1);
    QCOMPARE(c->objectName(), QStringLiteral("SkinLabel2_1"));
    QCOMPARE(c->parentWidget(), f.frame1);
    QVERIFY(c->wordWrap());
    // The labels themselves are unchanged, the templates stay hidden, and the
    // window got the skin after the labels were doubled.
    QCOMPARE(f.inFrame2a->text(), QStringLiteral("Popup Blocking"));
    QVERIFY(one.first()->isHidden() && two.first()->isHidden());
    QVERIFY(skinObject() && skinObject()->isApplied(&f.form));
    for (SkinLabel *s : f.form.findChildren<SkinLabel *>()) {
        QVERIFY(s->text() != f.inFrame3->text());
        QVERIFY(s->text() != f.onForm->text());
        QVERIFY(s->text() != QStringLiteral("0 Popups blocked to date"));
        QCOMPARE(controlKind(s), QStringLiteral("SkinLabel"));
    }
}

void TestSkin::secondRunAddsAFreshSet()
{
    TwoFrameForm f;
    const SkinLabelRules rules =
        SkinLabelRules::byContainer({QStringLiteral("SkinLabel1"), QStringLiteral("SkinLabel2")});
    QCOMPARE(cloneLabelsToSkinLabels(&f.form, rules).size(), 3);
    const QList<SkinLabel *> again = cloneLabelsToSkinLabels(&f.form, rules);
    // Skin labels are not doubled themselves; each array grows above its
    // upper bound.
    QCOMPARE(again.size(), 3);
    QStringList names;
    for (SkinLabel *s : again)
        names << s->objectName();
    QCOMPARE(names, (QStringList{"SkinLabel1_3", "SkinLabel1_4", "SkinLabel2_2"}));

    // A gap in an array: the next element still goes above the highest.
    delete f.form.findChild<QLabel *>(QStringLiteral("SkinLabel1_2"));
    const QList<SkinLabel *> third = cloneLabelsToSkinLabels(&f.form, rules);
    QCOMPARE(third.first()->objectName(), QStringLiteral("SkinLabel1_5"));
}

void TestSkin::windowWithoutTemplatesGetsNoSkinLabels()
{
    TwoFrameForm f;
    delete f.form.findChild<QLabel *>(QStringLiteral("SkinLabel2_0"));
    const QList<SkinLabel *> made = cloneLabelsToSkinLabels(
        &f.form, SkinLabelRules::byContainer({QStringLiteral("SkinLabel1"), QStringLiteral("SkinLabel2")}));
    QCOMPARE(made.size(), 2); // Frame1's label has no template any more
    QVERIFY(cloneLabelsToSkinLabels(&f.form, SkinLabelRules::always(QStringLiteral("SkinLabel7"))).isEmpty());
    QVERIFY(cloneLabelsToSkinLabels(nullptr, SkinLabelRules::always(QStringLiteral("SkinLabel1"))).isEmpty());
}

void TestSkin::aboutWindowPutsEveryLabelOnTheWindow()
{
    profile().skinEnabled = true;
    AboutWindow *about = AboutWindow::open(m_fx->context);
    const QList<QLabel *> array = skinLabelArray(about, QStringLiteral("SkinLabel1"));
    QCOMPARE(array.size(), 8); // template + seven labels
    for (QLabel *l : array)
        QCOMPARE(l->parentWidget(), about);

    QHash<QString, QLabel *> byText;
    for (QLabel *l : array.mid(1))
        byText.insert(l->text(), l);
    // The skin step runs after the texts were set.
    QVERIFY(byText.contains(QStringLiteral("Wendral")));
    QVERIFY(byText.contains(QStringLiteral("1.0")));
    QVERIFY(byText.contains(QStringLiteral("Brindlemark")));
    QVERIFY(!byText.contains(QStringLiteral("Your Program Name")));
    // The title label sits inside the picture box; its twin lies on the
    // window at the label's own Top and Left.
    QLabel *title = about->label(QStringLiteral("Label1"));
    QCOMPARE(byText.value(QStringLiteral("Wendral"))->geometry(), title->geometry());
    QCOMPARE(byText.value(QStringLiteral("Wendral"))->font(), title->font());
    QCOMPARE(about->label(QStringLiteral("Picture1"))->palette().color(QPalette::Window),
             skinObject()->colour(Skin::PanelBack));
    QVERIFY(skinObject()->isApplied(about));
    QVERIFY(m_companion.calls().isEmpty()); // only start-up and end talk to it
}

void TestSkin::skinLabelsLetClicksThrough()
{
    profile().skinEnabled = true;
    AboutWindow *about = AboutWindow::open(m_fx->context);
    QLabel *website = about->label(QStringLiteral("lblWebsite"));
    const QPoint centre = website->geometry().center();
    // The twin lies over the address, yet the address still takes the click.
    bool covered = false;
    for (QLabel *l : skinLabelArray(about, QStringLiteral("SkinLabel1")))
        covered = covered || (l->isVisibleTo(about) && l->geometry().contains(centre));
    QVERIFY(covered);
    QCOMPARE(about->childAt(centre), website);
}

void TestSkin::companionStartAndEnd()
{
    QWidget splash;
    splash.setObjectName(QStringLiteral("frmSplash"));
    profile().skinEnabled = true;
    engine().startupStep(&splash);
    QVERIFY(skinObject());
    QVERIFY(skinObject()->isApplied(&splash));
    QCOMPARE(m_companion.calls(), (QStringList{"attach", "start"}));
    QCOMPARE(m_companion.attachedValue().toString(), QStringLiteral("frmSplash"));
    engine().shutdownStep();
    QCOMPARE(m_companion.calls(), (QStringList{"attach", "start", "end"}));
}

void TestSkin::endWithoutStartStillTellsTheCompanion()
{
    // A run that ends before the splash started the skin: the end call still
    // reaches the companion, and no skin object is made for it.
    profile().skinEnabled = true;
    engine().shutdownStep();
    QCOMPARE(m_companion.calls(), QStringList{"end"});
    QVERIFY(!skinObject());
}

void TestSkin::withoutACompanionStartAndEndOnlySkin()
{
    engine().setCompanion(nullptr);
    QWidget splash;
    profile().skinEnabled = true;
    engine().startupStep(&splash);
    QVERIFY(skinObject() && skinObject()->isApplied(&splash));
    engine().shutdownStep();
    QVERIFY(m_companion.calls().isEmpty());
}

QTEST_MAIN(TestSkin)
#include "tst_skin.moc"
