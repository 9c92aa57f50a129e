// tst_window_model.cpp: the window model's elements and their initial state.
#include "ui/input_capture.h"
#include "ui/presenter.h"
#include "ui/window_model.h"

#include <QTest>

#include <string>

using namespace zentrel;

class tst_WindowModel : public QObject
{
    Q_OBJECT
private slots:
    void elements_haveUniqueNames();
    void panels_keepBoundedTail();
};

void tst_WindowModel::elements_haveUniqueNames()
{
    ui::ZentrelFRM form;
    QSet<QString> names;
    for (ui::Element *element : form.elements())
        names.insert(QString::fromStdString(element->name()));
    QCOMPARE(names.size(), int(form.elements().size()));
    QCOMPARE(form.height(), ui::CompactHeight);
}

// A client that floods without CR, and a playback that never ends: each panel
// keeps its latest text, from a whole line on, under a line that says the
// start is gone; what a normal session leaves is untouched.
void tst_WindowModel::panels_keepBoundedTail()
{
    using ui::DroppedTextLine;
    using ui::TextBoxTail;
    ui::ZentrelFRM form;
    ui::captureInput(form, "show run\r\n");
    QCOMPARE(form.TXT_Input.text(), std::string("show run\r\n"));
    QVERIFY(!form.TXT_Input.droppedOlderText());

    std::string chunk(256 * 1024, 'f');
    for (int i = 0; i < 40; ++i) {
        chunk.replace(0, 3, std::to_string(100 + i));
        ui::captureInput(form, chunk);
        QVERIFY(form.TXT_Input.text().size() <= TextBoxTail);
    }
    const std::string &input = form.TXT_Input.text();
    QVERIFY(form.TXT_Input.droppedOlderText());
    QVERIFY(input.starts_with(DroppedTextLine));
    QVERIFY(input.size() > TextBoxTail / 2);
    QVERIFY(input.ends_with(chunk + "\r\n"));
    const std::size_t firstLine = DroppedTextLine.size();
    QCOMPARE(input.find("\r\n", firstLine) - firstLine, chunk.size());

    form.TXT_OutPut.setText({});
    std::string line;
    for (int i = 0; i < 400000; ++i)
        ui::showItem(form, line, "item " + std::to_string(i));
    const std::string &output = form.TXT_OutPut.text();
    QVERIFY(output.size() <= TextBoxTail);
    QVERIFY(output.starts_with(std::string(DroppedTextLine) + "item "));
    QVERIFY(output.ends_with("\r\nitem 399999\r\n"));
    QVERIFY(form.TXT_OutPut.drops() > 0);

    // The next view of the panel, or the next connection, starts afresh.
    form.TXT_OutPut.setText("Original\r\n");
    QCOMPARE(form.TXT_OutPut.text(), std::string("Original\r\n"));
    QVERIFY(!form.TXT_OutPut.droppedOlderText());
    form.TXT_Input.setText(std::string(TextBoxTail + 1, 'x'));
    QVERIFY(form.TXT_Input.text().starts_with(DroppedTextLine));
    QVERIFY(form.TXT_Input.text().size() <= TextBoxTail);
}

QTEST_GUILESS_MAIN(tst_WindowModel)
#include "tst_window_model.moc"
