// The dialog templates kept as data, and the window built from template 102: the places
// of the controls in pixels, the radio groups, the labels and the tab order.
#include "app/dialog_template.h"

#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include "app/template_widgets.h"
#include "window_test_support.h"

namespace flowloom::test {
namespace {

TEST(DialogTemplate, ParsesATableAndRefusesMalformedLines) {
    const std::string good =
        "# a comment\n"
        "dialog 7 100 50 \"Title | with | bars\"\n"
        "\n"
        "-1   frame  1 2 3 4 - \"\"\n"
        "10   radio  5 6 7 8 group \"  Two  blanks\"\n"
        "11   edit   9 9 9 9 - \"\"\r\n";
    DialogTemplate t;
    std::string error;
    ASSERT_EQ(ParseDialogTemplate(good, t, error), 1) << error;
    EXPECT_EQ(t.id, 7);
    EXPECT_EQ(t.title, "Title | with | bars");
    ASSERT_EQ(t.controls.size(), 3u);
    EXPECT_EQ(t.controls[1].text, "  Two  blanks");
    EXPECT_TRUE(t.controls[1].group_start);
    EXPECT_EQ(t.controls[2].kind, ControlKind::kEdit);
    EXPECT_EQ(t.Find(-1), nullptr);

    const char* bad[] = {
        "10 radio 5 6 7 8 group \"no dialog line first\"\n",
        "dialog 7 100 50 \"t\"\n10 slider 1 2 3 4 - \"unknown kind\"\n",
        "dialog 7 100 50 \"t\"\n10 edit 1 2 3 - \"missing height\"\n",
        "dialog 7 100 50 \"t\"\n10 edit 1 2 3 4 - \"unclosed\n",
        "dialog 7 100 50 \"t\"\n10 edit 1 2 3 4 first \"bad group flag\"\n",
        "dialog 7 100 50 \"t\"\n10 edit -1 2 3 4 - \"negative place\"\n",
        "dialog 7 100 50 \"t\"\n10 edit 1 2 3 4 - \"\"\n10 edit 1 2 3 4 - \"same id twice\"\n",
        "dialog 7 0 50 \"t\"\n",
        "",
    };
    for (const char* text : bad) {
        DialogTemplate out;
        out.id = 99;
        EXPECT_EQ(ParseDialogTemplate(text, out, error), 0) << text;
        EXPECT_EQ(out.id, 99) << "a failed parse leaves the output alone";
    }
    std::map<int, std::string> strings;
    ASSERT_EQ(ParseStringTable("# c\n101 \"&About Flowloom...\"\n", strings, error), 1);
    EXPECT_EQ(strings[101], "&About Flowloom...");
    EXPECT_EQ(ParseStringTable("101 &About\n", strings, error), 0);
}

TEST(DialogTemplate, DialogUnitsBecomeOneAndAHalfPixelsAcrossAndOneAndFiveEighthsDown) {
    EXPECT_EQ(DialogUnitsToPixelsX(400), 600);
    EXPECT_EQ(DialogUnitsToPixelsX(7), 11);  // 10.5 rounds up
    EXPECT_EQ(DialogUnitsToPixelsY(8), 13);
    EXPECT_EQ(DialogUnitsToPixelsY(249), 405);  // 404.625
    EXPECT_EQ(DialogUnitsToPixelsY(17), 28);    // 27.625
    // Edges convert, so controls that touch in units touch in pixels.
    DialogControl a;
    a.x = 7;
    a.y = 7;
    a.width = 5;
    a.height = 3;
    DialogControl b = a;
    b.x = 12;
    b.y = 10;
    EXPECT_EQ(ControlPixelRect(a).right, ControlPixelRect(b).left);
    EXPECT_EQ(ControlPixelRect(a).bottom, ControlPixelRect(b).top);
}

TEST(DialogTemplate, RadioGroupsRunToTheNextGroupStartCountingRadioButtonsOnly) {
    const DialogTemplate t = LoadDialogTemplate(kMainWindowTemplate);
    EXPECT_EQ(t.RadioGroup(1002), (std::vector<int>{1002, 1003, 1006, 1007}));  // 1005 is a push button
    EXPECT_EQ(t.RadioGroup(1010), (std::vector<int>{1010, 1011}));
    EXPECT_EQ(t.RadioGroup(1013), (std::vector<int>{1013, 1014, 1015}));  // runs to the end
    EXPECT_TRUE(t.RadioGroup(1008).empty());
    EXPECT_EQ(t.width, 673);
    EXPECT_EQ(t.height, 249);
}

TEST(MainWindowLayout, ControlsSitAtTheirTemplatePlacesAroundTheView) {
    WindowFixture f;
    EXPECT_EQ(f.window.size(), QSize(1010, 405));
    EXPECT_EQ(f.window.minimumSize(), f.window.maximumSize());  // not resizable
    EXPECT_EQ(f.window.view_rect, (PixelRect{15, 15, 615, 389}));
    EXPECT_EQ(f.window.progress_rect, (PixelRect{15, 394, 615, 401}));

    for (const DialogControl& c : f.window.Template().controls) {
        if (c.id == -1) continue;
        const PixelRect r = ControlPixelRect(c);
        EXPECT_EQ(f.window.Control(c.id)->geometry(), QRect(r.left, r.top, r.Width(), r.Height())) << c.id;
    }
    EXPECT_EQ(f.window.Control(1008)->geometry(), QRect(671, 28, 63, 22));
    EXPECT_EQ(f.window.Control(1046)->geometry(), QRect(879, 320, 120, 20));
    // The image frame surrounds the view; nothing else overlaps the view.
    const QRect view(15, 15, 600, 374);
    for (QWidget* child : f.window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isVisible()) continue;
        if (child->geometry().contains(view)) continue;
        EXPECT_FALSE(child->geometry().intersects(view)) << child->metaObject()->className();
    }
    // Every text fits its control at the font chosen.
    const QFontMetrics metrics(f.window.font());
    for (QLabel* label : f.window.findChildren<QLabel*>())
        EXPECT_LE(metrics.horizontalAdvance(label->text()), label->width()) << label->text().toStdString();
}

TEST(MainWindowLayout, LabelsNameTheirEditsAndTheTabOrderIsTheTemplateOrder) {
    WindowFixture f;
    std::map<QWidget*, QString> label_of;
    for (QLabel* label : f.window.findChildren<QLabel*>())
        if (label->buddy()) label_of[label->buddy()] = label->text();
    EXPECT_EQ(label_of[f.window.Control(1008)], "x-res");
    EXPECT_EQ(label_of[f.window.Control(1009)], "y-res");
    EXPECT_EQ(label_of[f.window.Control(1016)], "Kernel Length");
    EXPECT_EQ(label_of[f.window.Control(1021)], "Iteration");
    EXPECT_EQ(label_of[f.window.Control(1031)], "Iteration");
    EXPECT_EQ(label_of[f.window.Control(1025)], "Bottom");
    EXPECT_EQ(label_of[f.window.Control(1037)], "FPSs");

    std::vector<int> expected;
    for (const DialogControl& c : f.window.Template().controls)
        if (c.id != -1) expected.push_back(c.id);
    std::vector<int> walked;
    QWidget* w = f.window.Control(expected.front());
    for (size_t i = 0; i < expected.size(); ++i) {
        walked.push_back(w->objectName().toInt());
        w = w->nextInFocusChain();
        while (w->objectName().isEmpty() || w->focusPolicy() == Qt::NoFocus) w = w->nextInFocusChain();
    }
    EXPECT_EQ(walked, expected);
}

TEST(MainWindowLayout, StartsWithTheDefaultsInThePanel) {
    WindowFixture f;
    EXPECT_EQ(f.Edit(1008)->text(), "300");
    EXPECT_EQ(f.Edit(1016)->text(), "15");
    EXPECT_EQ(f.Edit(1023)->text(), "299");
    EXPECT_EQ(f.Edit(1037)->text(), "8");
    EXPECT_TRUE(f.Checked(1002));
    EXPECT_TRUE(f.Checked(1010));
    EXPECT_TRUE(f.Checked(1013));
    EXPECT_TRUE(f.Checked(1012));
    EXPECT_TRUE(f.Checked(1030));
    EXPECT_FALSE(f.Checked(1048));
    EXPECT_FALSE(f.window.windowIcon().isNull());
    EXPECT_EQ(f.window.last_command, -1);
    EXPECT_EQ(f.window.mirror.lod, -100);
    EXPECT_EQ(f.window.mirror.anim_fps, 0);
    // The first control of the tab order has the focus.
    EXPECT_EQ(QApplication::focusWidget(), f.window.Control(1001));
}

}  // namespace
}  // namespace flowloom::test
