// Reading a module's configuration file: values, normalisation and every
// problem text, on files written to disk.
#include <gtest/gtest.h>

#include "geodesy/CMarloDll.h"
#include "geodesy/CORVELDll.h"
#include "module/CRTCMTransformationMessageModule.h"
#include "module/ModuleFixture.h"

namespace tarvik::testing {
namespace {

using Module = CRTCMTransformationMessageModule;

class Configuration : public ModuleHome {
 protected:
  // Reads configuration `name` written from the base text with `edits`.
  std::unique_ptr<Module> Read(const std::map<std::string, std::string>& edits,
                               const std::string& name = "Nord") {
    WriteIni(name, EditIni(BaseModuleIni(), edits));
    auto module = std::make_unique<Module>(name, Folder(name));
    result_ = module->ReadConfiguration(general_);
    return module;
  }
  static bool Has(const Module& m, const std::string& text) {
    return m.ModuleProblems().find("ReadConfiguration Nord: " + text + "\n\n") != std::string::npos;
  }
  static int Count(const Module& m, const std::string& text) {
    int n = 0;
    std::string all = m.ModuleProblems();
    for (auto at = all.find(text); at != std::string::npos; at = all.find(text, at + 1)) ++n;
    return n;
  }
  int result_ = -1;
};

TEST_F(Configuration, CompleteFileWithItsDatabasesIsValid) {
  for (const char* height : {"GEOIDGRID", "ORVEL_DB", "ORVEL_DB2", "SAPEN_DB"}) {
    auto m = Read({{"HeightType", height},
                   {"HeightDB", std::string(height).rfind("ORVEL", 0) == 0 ? "Demo.orv" : "Demo.grd"}});
    EXPECT_EQ(result_, 1);
    EXPECT_TRUE(m->ModuleValid()) << height << ": " << m->ModuleProblems();
    EXPECT_TRUE(m->Settings().Marlo().IsReady());
  }
}

TEST_F(Configuration, ReadsValuesWithTheirNormalisation) {
  general_.RTCMFormat = kRTCMFormatBinary;
  general_.ErrorHandling = CTarvikSettings::kInvalidArea;
  auto m = Read({{"PORTNUM", "2101"},
                 {"Mode", "local"},
                 {"PlanType", "sapen_db"},
                 {"HeightType", "orvel_db2"},
                 {"HeightDB", "sub\\h.grd"},
                 {"1021/SourceNameCounter", "5"},
                 {"TargetNameCounter", "7"},
                 {"Settings/RTCMFormat", " xml "}});
  ASSERT_EQ(result_, 1);
  const CConfigurationSettings& c = m->Settings();
  EXPECT_EQ(m->Port(), 2101);
  EXPECT_EQ(c.RequestType, 1);
  EXPECT_EQ(m->TotalNumberOfRequests(), 5);
  EXPECT_EQ(c.ActiveMessages, (std::vector<int>{1021, 1023, 1025}));
  EXPECT_EQ(c.Mode, "LOCAL");
  EXPECT_EQ(c.ModeCode, kModeLocal);
  EXPECT_EQ(c.PlanType, "SAPEN_DB");
  EXPECT_EQ(c.PlanCode, kPlanSapenDB);
  EXPECT_EQ(c.PlanDB, general_.SapenDBPath + "/Demo.mdb");
  EXPECT_EQ(c.HeightCode, kHeightOrvelDB2);
  EXPECT_EQ(c.HeightDB, general_.OrvelDBPath + "/sub/h.grd");
  EXPECT_DOUBLE_EQ(c.MeanGeoidHeight, 48.5);
  EXPECT_EQ(c.ErrorHandling, CTarvikSettings::kInvalidArea);
  EXPECT_EQ(c.RTCMFormat, kRTCMFormatXML);  // the configuration's own format wins
  EXPECT_EQ(m->ResponseFormat(), kRTCMFormatXML);
  EXPECT_DOUBLE_EQ(c.S, 1.0);
  EXPECT_EQ(c.Helmert.SourceName, "ETRS89");
  EXPECT_EQ(c.Helmert.PlateNumber, 7);
  EXPECT_DOUBLE_EQ(c.Helmert.SemiminorAxisOfTargetSystemEllipsoid, 6356078.962818);
  EXPECT_EQ(c.Helmert.MessageLength, 64);
  EXPECT_EQ(c.ResidualGrid.MessageLength, 73);
  EXPECT_EQ(c.Projection.MessageLength, 25);
  EXPECT_DOUBLE_EQ(c.Projection.FalseNorthing, -5000000.0);

  // Without an own format the program-wide one applies; other words give
  // the code 0 and a plan type other than SAPEN_DB keeps PlanDB as written.
  m = Read({{"Mode", "regionalish"}, {"PlanType", "none"}, {"HeightType", "GeoidGrid"}});
  EXPECT_EQ(m->Settings().RTCMFormat, kRTCMFormatBinary);
  EXPECT_EQ(m->Settings().ModeCode, kModeOther);
  EXPECT_EQ(m->Settings().PlanCode, kPlanNone);
  EXPECT_EQ(m->Settings().PlanDB, "Demo.mdb");
  EXPECT_EQ(m->Settings().HeightCode, kHeightGeoidGrid);
  EXPECT_EQ(m->Settings().HeightDB, general_.GeoidGridPath + "/Demo.grd");
}

TEST_F(Configuration, ActiveMessagesAndTheirChecks) {
  auto m = Read({{"ActiveMessages", "1021;1022"}});
  EXPECT_EQ(m->Settings().ActiveMessages, (std::vector<int>{1021, 1022}));
  EXPECT_TRUE(Has(*m, "Message 1022 is not supported by Tarvik."));
  EXPECT_FALSE(m->ModuleValid());

  // A ';' at the start of the rest ends the list; zero and negatives are not kept.
  m = Read({{"ActiveMessages", "1025;0;-3;1021;;1023"}});
  EXPECT_EQ(m->Settings().ActiveMessages, (std::vector<int>{1025, 1021}));
  EXPECT_TRUE(Has(*m, "Message 0 is not supported by Tarvik."));
  EXPECT_TRUE(Has(*m, "Message -3 is not supported by Tarvik."));

  m = Read({{"ActiveMessages", "1021;abc;1023"}});
  EXPECT_EQ(m->Settings().ActiveMessages, (std::vector<int>{1021, 1023}));
  EXPECT_TRUE(Has(*m, "Message abc is not supported by Tarvik."));

  m = Read({{"ActiveMessages", "1021;1023;1025"}, {"InvolvedTransformationMessages", "1010000000"}});
  EXPECT_EQ(Count(*m, "Message 10"), 0) << m->ModuleProblems();
  EXPECT_EQ(Count(*m, "InvolvedTransformationMessages"), 0);

  m = Read({{"ActiveMessages", "1023"}, {"InvolvedTransformationMessages", "0000000000"}});
  EXPECT_TRUE(
      Has(*m, "Message 1023 which is set to active is not included in 'InvolvedTransformationMessages'."));

  m = Read({{"InvolvedTransformationMessages", "1111100000"}});
  EXPECT_TRUE(Has(*m,
                  "Message 1024 which is is set to active in 'InvolvedTransformationMessages' is not "
                  "supported by Tarvik."));
  EXPECT_TRUE(Has(*m,
                  "Message 1026 which is is set to active in 'InvolvedTransformationMessages' is not "
                  "supported by Tarvik."));
  EXPECT_LT(m->ModuleProblems().find("Message 1024"), m->ModuleProblems().find("Message 1026"));

  // Wrong length: reported, and the position checks still apply; positions
  // past a short string's end count as not set.
  m = Read({{"InvolvedTransformationMessages", "101000000"}});
  EXPECT_TRUE(
      Has(*m, "Length of bit-string 'InvolvedTransformationMessages' must be 10. Current length is 9."));
  EXPECT_EQ(Count(*m, "is not included"), 0);
  m = Read({{"InvolvedTransformationMessages", "1"}});
  EXPECT_EQ(Count(*m, "Current length is 1.\n\n"), 1);
  EXPECT_TRUE(
      Has(*m, "Message 1025 which is set to active is not included in 'InvolvedTransformationMessages'."));
  EXPECT_EQ(Count(*m, "is is set"), 0);
}

TEST_F(Configuration, TransformationAndMeanGeoidHeight) {
  auto m = Read({{"S", ""}});
  EXPECT_EQ(Count(*m, "Information about transformation is missing."), 1);
  m = Read({{"RX", "<delete>"}, {"TZ", ""}});
  EXPECT_EQ(Count(*m, "Information about transformation is missing."), 1);
  m = Read({{"RX", "0.5"}, {"TY", "-12.25"}, {"S", "1.00001"}});
  EXPECT_EQ(Count(*m, "Information about transformation"), 0);
  EXPECT_DOUBLE_EQ(m->Settings().RX, 0.5);
  EXPECT_DOUBLE_EQ(m->Settings().TY, -12.25);

  for (const char* text : {"", "<delete>", "-9999", "-9999.0", "abc"}) {
    m = Read({{"MeanGeoidHeight", text}});
    EXPECT_DOUBLE_EQ(m->Settings().MeanGeoidHeight, 42.0) << text;
  }
  m = Read({{"MeanGeoidHeight", "-9999.5"}});
  EXPECT_DOUBLE_EQ(m->Settings().MeanGeoidHeight, -9999.5);
}

// Values a message field cannot carry are configuration problems, named
// with the key and the range; nothing may wrap on the wire.
TEST_F(Configuration, ValuesBeyondTheirMessageFields) {
  auto m = Read({{"LatitudeExtensionAreaOfValidity", "0.6"}});  // 1023 carries at most 0.56875
  EXPECT_EQ(Count(*m,
                  "Value 0.6 of LatitudeExtensionAreaOfValidity does not fit message 1023 (it takes 0 to "
                  "0.56875)."),
            1);
  m = Read({{"LatitudeExtensionAreaOfValidity", "0.6"}, {"ActiveMessages", "1021;1025"}});
  EXPECT_TRUE(m->ModuleValid()) << m->ModuleProblems();  // 1021 alone takes up to 9.1 degrees
  m = Read({{"LongitudeExtensionAreaOfValidity", "9.2"}, {"ActiveMessages", "1021"}});
  EXPECT_EQ(Count(*m, "LongitudeExtensionAreaOfValidity does not fit message 1021"), 1);
  m = Read({{"ScaleFactorAtNaturalOrigin", "1.01"}});
  EXPECT_EQ(Count(*m, "Value 1.01 of ScaleFactorAtNaturalOrigin does not fit message 1025"), 1);
  m = Read({{"FalseEasting", "-1"}, {"FalseNorthing", "2e10"}, {"ProjectionType", "64"}});
  EXPECT_EQ(Count(*m, "of FalseEasting does not fit message 1025"), 1);
  EXPECT_EQ(Count(*m, "of FalseNorthing does not fit message 1025"), 1);
  EXPECT_EQ(Count(*m, "Value 64 of ProjectionType does not fit message 1025 (it takes 0 to 63)."), 1);
  m = Read({{"SemimajorAxisOfSourceSystemEllipsoid", "6400000"}});
  EXPECT_EQ(Count(*m, "SemimajorAxisOfSourceSystemEllipsoid does not fit message 1021"), 1);
  m = Read({{"SourceNameCounter", "32"}, {"SystemIdentificationNumber", "256"}});
  EXPECT_EQ(Count(*m, "Value 32 of SourceNameCounter does not fit message 1021"), 1);
  EXPECT_GE(Count(*m, "Value 256 of SystemIdentificationNumber does not fit message"), 1);
  // Not a number, and an ellipsoid that is none.
  m = Read({{"RZ", "nan"}});
  EXPECT_EQ(Count(*m, "Transformation_ITRF_To_Target and MeanGeoidHeight must be numbers."), 1);
  m = Read({{"SemiminorAxisOfTargetSystemEllipsoid", "6378000"},
            {"SemimajorAxisOfTargetSystemEllipsoid", "6377000"},
            {"ActiveMessages", "1025"},
            {"InvolvedTransformationMessages", "0010000000"}});
  EXPECT_EQ(Count(*m, "The target ellipsoid's axes (6377000, 6378000) are no ellipsoid"), 1);
}

TEST_F(Configuration, DatabaseProblems) {
  auto m = Read({{"HeightType", "GEOIDGRID"}, {"HeightDB", "absent.grd"}});
  EXPECT_TRUE(Has(*m, "Error initializing GeoidGrid-Access. Database " + general_.GeoidGridPath +
                          "/absent.grd not accessible."));
  m = Read({{"PlanDB", "absent.mdb"}});
  EXPECT_NE(m->ModuleProblems().find("Error initializing Marlo-Access with database " + general_.SapenDBPath +
                                     "/absent.mdb. ErrorCode: "),
            std::string::npos);

  std::ofstream(fs::path(general_.GeoidGridPath) / "bad.grd") << "48 13\n47 14\n0.5 0.5\n2 2\n48 13 1\n";
  m = Read({{"HeightDB", "bad.grd"}});
  EXPECT_TRUE(Has(*m, "Error initializing GeoidGrid-Access. Database " + general_.GeoidGridPath +
                          "/bad.grd. Format error."));

  std::ofstream(fs::path(general_.GeoidGridPath) / "header.grd") << "48 13\n47 14\n0.5 0.5\n2\n";
  m = Read({{"HeightDB", "header.grd"}});
  EXPECT_TRUE(Has(
      *m, "Error initializing GeoidGrid-Access with database " + general_.GeoidGridPath + "/header.grd."));

  m = Read({{"HeightType", "ORVEL_DB"}, {"HeightDB", "absent.orv"}});
  EXPECT_TRUE(
      Has(*m, "Error initializing ORVEL-Access with database " + general_.OrvelDBPath + "/absent.orv."));
}

TEST_F(Configuration, LibraryCopyThatFailsLeavesTheBindingNotReady) {
  // A folder in the way of the copy: reported, the load fails, and the
  // database open reports the binding's own code.
  fs::create_directories(Folder("Nord") / "MarloDLL.so" / "in-the-way");
  auto m = Read({});
  EXPECT_TRUE(Has(*m, "Unable to copy file " + (ExecutableFolder() / "MarloDLL.so").string() + " to " +
                          (Folder("Nord") / "MarloDLL.so").string() +
                          ". Check if directories are accessable."));
  EXPECT_FALSE(m->Settings().Marlo().IsReady());
  EXPECT_NE(m->ModuleProblems().find("Error initializing Marlo-Access with database " + general_.SapenDBPath +
                                     "/Demo.mdb. ErrorCode: " + MarloErrorText(-2006)),
            std::string::npos);
  EXPECT_TRUE(m->Settings().Orvel().IsReady());  // the other copy is unaffected
}

TEST_F(Configuration, MissingFileAndRereading) {
  Module missing("Nord", Folder("Nord"));
  fs::create_directories(Folder("Nord"));
  EXPECT_EQ(missing.ReadConfiguration(general_), 0);
  EXPECT_FALSE(missing.ModuleValid());
  EXPECT_TRUE(Has(missing, "File " + (Folder("Nord") / "Nord.ini").string() + " is missing."));
  // The library copies are made before the file is looked for.
  EXPECT_TRUE(fs::exists(Folder("Nord") / "MarloDLL.so"));
  EXPECT_TRUE(fs::exists(Folder("Nord") / "OrvelMan4.so.so"));

  auto m = Read({{"ActiveMessages", "1021;1022;1025"}, {"PORTNUM", "2200"}});
  EXPECT_FALSE(m->ModuleValid());
  WriteIni("Nord", EditIni(BaseModuleIni(), {{"ActiveMessages", "1023"}, {"PORTNUM", "2201"}}));
  EXPECT_EQ(m->ReadConfiguration(general_), 1);
  EXPECT_EQ(m->Settings().ActiveMessages, std::vector<int>{1023});
  EXPECT_EQ(m->Port(), 2201);
  EXPECT_EQ(Count(*m, "Message 1022"), 0);  // problems of the old file are gone
}

TEST_F(Configuration, TotalIsWrittenBackAndOtherLinesKept) {
  {
    auto m = Read({});
    m->CountRequest();
    m->CountRequest();
    EXPECT_EQ(m->RequestsSinceStart(), 2);
  }
  std::string text = ReadFile(Folder("Nord") / "Nord.ini");
  EXPECT_NE(text.find("\nTotalNumberOfRequests=7\n"), std::string::npos);
  EXPECT_EQ(text, EditIni(BaseModuleIni(), {{"TotalNumberOfRequests", "7"}}));
}

// Requests counted since the total was last written survive a new read of
// the file, whether the operator left the total alone or changed it.
TEST_F(Configuration, ReadingAgainKeepsTheRequestsNotYetWritten) {
  auto m = Read({});  // the file holds 5
  m->CountRequest();
  m->CountRequest();
  ASSERT_EQ(m->ReadConfiguration(general_), 1);
  EXPECT_EQ(m->TotalNumberOfRequests(), 7);

  ASSERT_TRUE(m->WriteTotalNumberOfRequests());
  m->CountRequest();
  WriteIni("Nord", EditIni(BaseModuleIni(), {{"TotalNumberOfRequests", "100"}}));  // operator's reset
  ASSERT_EQ(m->ReadConfiguration(general_), 1);
  EXPECT_EQ(m->TotalNumberOfRequests(), 101);
  ASSERT_EQ(m->ReadConfiguration(general_), 1);  // nothing new counted: nothing added twice
  EXPECT_EQ(m->TotalNumberOfRequests(), 101);
}

}  // namespace
}  // namespace tarvik::testing
