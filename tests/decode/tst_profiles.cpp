// The model table: which profile wins, and what each count range fixes.
#include <QTest>

#include "ModelProfiles.h"

namespace {

ControlStates only(std::initializer_list<ModelCheck> checks) {
    ControlStates c;
    c.model.fill(false);
    for (ModelCheck m : checks) c.model[m] = true;
    return c;
}

}  // namespace

class Profiles : public QObject {
    Q_OBJECT

private slots:
    void storedStateIsKR31E() {
        const ProfileChoice p = chooseProfile(ControlStates());
        QCOMPARE(p.family, FrameFamily::Segment);
        QCOMPARE(*p.title, std::string("KR31E Interface Program _Ver: 2.02"));
        QVERIFY(!p.baud19200);
        QCOMPARE(p.ScaleDigits, std::string("4"));
    }

    void laterCheckedRowsOverwriteEarlierOnes() {
        ProfileChoice p = chooseProfile(only({IFKR31D, IFKR31F}));
        QCOMPARE(*p.title, std::string("KR31F Interface Program _Ver: 1.00"));
        QCOMPARE(p.family, FrameFamily::Digit);
        QVERIFY(p.baud19200);
        QCOMPARE(p.ScaleDigits, std::string("34"));  // KR31F leaves the range KR31D set

        p = chooseProfile(only({IFKR31A, IF2285}));
        QCOMPARE(p.family, FrameFamily::Digit);
        QCOMPARE(*p.title, std::string("MODELO 22-85 Interface Program _Ver: 1.00"));

        p = chooseProfile(only({IFKR31G}));
        QCOMPARE(p.family, FrameFamily::Digit);
        QVERIFY(p.baud19200);
        QCOMPARE(p.ScaleDigits, std::string("6"));
    }

    void noBoxBindsNothing() {
        const ProfileChoice p = chooseProfile(only({}));
        QCOMPARE(p.family, FrameFamily::None);
        QVERIFY(!p.title);
        QVERIFY(!p.baud19200);
        QCOMPARE(p.ScaleDigits, std::string("4"));
        // the variant switch takes no part in start-up
        QCOMPARE(chooseProfile(only({IF7263x})).family, FrameFamily::None);
    }

    void countRanges_data() {
        QTest::addColumn<QString>("digits");
        QTest::addColumn<int>("fullScale");
        QTest::addColumn<int>("bar");
        QTest::newRow("4000") << "4" << 4000 << 80;
        QTest::newRow("6000") << "6" << 6000 << 120;
        QTest::newRow("3400") << "34" << 3400 << 68;
    }
    void countRanges() {
        QFETCH(QString, digits);
        QFETCH(int, fullScale);
        QFETCH(int, bar);
        const auto r = countRangeFor(digits.toStdString());
        QVERIFY(r);
        MeterState s;
        applyCountRange(*r, s);
        QCOMPARE(s.FullScale, fullScale);
        QCOMPARE(s.FullScaleTenth, fullScale / 10);
        QCOMPARE(s.FullScaleHundredth, fullScale / 100);
        QCOMPARE(s.BarSegments, bar);
        QCOMPARE(s.MaxLimit, float(fullScale + 2));
        QCOMPARE(s.MinLimit, -float(fullScale + 2));
        QCOMPARE(s.MaxReading, -float(fullScale + 1));
        QCOMPARE(s.MinReading, float(fullScale + 1));
        QCOMPARE(std::string(r->SetmaxText), std::to_string(fullScale));
        QCOMPARE(std::string(r->MaxTextCaption), "-" + std::to_string(fullScale + 1));
        QVERIFY(!countRangeFor("5"));
    }

    void captionsAreTheCommandLineNames() {
        QCOMPARE(*modelCheckByCaption("KR31G"), IFKR31G);
        QCOMPARE(*modelCheckByCaption("TS510/530"), IFTS510);
        QVERIFY(!modelCheckByCaption("KR31Z"));
        QVERIFY(!modelCheckByCaption("IF7263x"));  // the variant is a switch, not a model
        QCOMPARE(std::string(modelCheckName(IF7263x)), std::string("IF7263x"));
        QVERIFY(modelCaptionList().find("22-85") != std::string::npos);
    }
};

QTEST_GUILESS_MAIN(Profiles)
#include "tst_profiles.moc"
