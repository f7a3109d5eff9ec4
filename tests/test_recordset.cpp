#include "WrapperTestSupport.h"
#include "Recordset.h"

#include <QTest>


using namespace velmar;
using namespace velmar::test;

namespace {

// An open record set with the columns id and name and the given ids as rows.
Recordset filled(const QStringList &ids)
{
    Recordset rs;
    rs.Append(QStringLiteral("id"), 8, 11, -1);
    rs.Append(QStringLiteral("name"), 8, 80, -1);
    rs.Open();
    for (const QString &id : ids) {
        rs.AddNew();
        rs.setValue(0, id);
        rs.setValue(1, u"n" + id);
    }
    rs.UpdateBatch(Recordset::adAffectAll);
    return rs;
}

}  // namespace

class TestRecordset : public QObject {
    Q_OBJECT
private slots:
    void appendRefusesPresentName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("same") << "id";
        QTest::newRow("other case") << "ID";
        QTest::newRow("qualified twice") << "a.id";
    }
    void appendRefusesPresentName()
    {
        QFETCH(QString, name);
        Recordset rs;
        rs.Append(QStringLiteral("id"), 8, 11, -1);
        rs.Append(QStringLiteral("a.id"), 8, 11, -1);
        const RaisedError e = raisedBy([&] { rs.Append(name, 8, 5, -1); });
        QCOMPARE(e.Number, 3367);
        QCOMPARE(e.Description, QStringLiteral("Object already in collection. Cannot append."));
        QCOMPARE(e.Source, QStringLiteral("Recordset"));
        QCOMPARE(rs.fieldNames(), (QStringList{"id", "a.id"}));
    }

    void appendKeepsColumnDescription()
    {
        Recordset rs;
        rs.Append(QStringLiteral("width"), 8, -1, -1);
        rs.Append(QStringLiteral("이름"), 8, 80, -1);
        QCOMPARE(rs.fieldCount(), 2);
        QCOMPARE(rs.field(0).DefinedSize, -1);
        QCOMPARE(rs.field(1).Name, QStringLiteral("이름"));
        QCOMPARE(rs.field(1).DefinedSize, 80);
        QCOMPARE(rs.field(1).Type, 8);
        QCOMPARE(rs.field(1).Attributes, -1);
        QCOMPARE(rs.fieldIndex(QStringLiteral("WIDTH")), 0);
        QCOMPARE(rs.fieldIndex(QStringLiteral("missing")), -1);
    }

    void appendRefusedWhileOpen()
    {
        Recordset rs = filled({});
        QCOMPARE(raisedBy([&] { rs.Append(QStringLiteral("x"), 8, 1, -1); }).Number, 3219);
        QCOMPARE(rs.fieldCount(), 2);
    }

    void emptyOpenRecordsetIsAtBothEnds()
    {
        Recordset rs = filled({});
        QCOMPARE(rs.State(), Recordset::adStateOpen);
        QCOMPARE(rs.RecordCount(), 0);
        QVERIFY(rs.isBOF());
        QVERIFY(rs.isEOF());
        QCOMPARE(raisedBy([&] { rs.value(0); }).Number, 3021);
        QCOMPARE(raisedBy([&] { rs.MoveFirst(); }).Number, 3021);
        QCOMPARE(raisedBy([&] { rs.MoveNext(); }).Number, 3021);
    }

    void addNewMakesTheNewRowCurrent()
    {
        Recordset rs = filled({"1", "2", "3"});
        QCOMPARE(rs.RecordCount(), 3);
        QCOMPARE(rs.value(0), QStringLiteral("3"));
        QVERIFY(!rs.isBOF());
        QVERIFY(!rs.isEOF());
    }

    void cursorWalksBothWays()
    {
        Recordset rs = filled({"1", "2", "3"});
        rs.MoveFirst();
        QStringList forward;
        while (!rs.isEOF()) {
            forward << rs.value(QStringLiteral("ID")) + rs.value(QStringLiteral("name"));
            rs.MoveNext();
        }
        QCOMPARE(forward, (QStringList{"1n1", "2n2", "3n3"}));
        QVERIFY(!rs.isBOF());
        QCOMPARE(raisedBy([&] { rs.value(0); }).Number, 3021);
        QCOMPARE(raisedBy([&] { rs.MoveNext(); }).Number, 3021);

        rs.MoveLast();
        QStringList backward;
        while (!rs.isBOF()) {
            backward << rs.value(0);
            rs.MovePrevious();
        }
        QCOMPARE(backward, (QStringList{"3", "2", "1"}));
        QVERIFY(!rs.isEOF());
        QCOMPARE(raisedBy([&] { rs.MovePrevious(); }).Number, 3021);
    }

    void valueOfUnknownColumnIsRefused()
    {
        Recordset rs = filled({"1"});
        QCOMPARE(raisedBy([&] { rs.value(QStringLiteral("nope")); }).Number, 3265);
        QCOMPARE(raisedBy([&] { rs.value(2); }).Number, 3265);
        QCOMPARE(raisedBy([&] { rs.setValue(-1, QString()); }).Number, 3265);
    }

    void closeDropsRowsAndKeepsColumns()
    {
        Recordset rs = filled({"1", "2"});
        rs.Close();
        QCOMPARE(rs.State(), Recordset::adStateClosed);
        QCOMPARE(rs.RecordCount(), 0);
        QCOMPARE(rs.fieldNames(), (QStringList{"id", "name"}));
        QCOMPARE(raisedBy([&] { rs.isEOF(); }).Number, 3704);
        QCOMPARE(raisedBy([&] { rs.AddNew(); }).Number, 3704);
        QCOMPARE(raisedBy([&] { rs.Close(); }).Number, 3704);
        rs.Open();
        QCOMPARE(rs.RecordCount(), 0);
        QCOMPARE(raisedBy([&] { rs.Open(); }).Number, 3705);
    }
};

QTEST_GUILESS_MAIN(TestRecordset)
#include "test_recordset.moc"
