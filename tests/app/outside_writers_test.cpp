// Who besides SYSTEM, Administrators and TrustedInstaller can change a program that runs as SYSTEM,
// judged on descriptors as Windows writes them in SDDL.
#include "app/outside_writers.h"

#include <gtest/gtest.h>

#include "app/security_descriptor_text.h"

namespace velmora::app {
namespace {

constexpr char kTi[] = "S-1-5-80-956008885-3581072358-2936306578-2249211116";
const std::string kRoot = std::string("O:") + kTi + "D:PAI(A;OICIIO;SDGXGWGR;;;AU)(A;;LC;;;AU)(A;OICI;FA;;;SY)"
                          "(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
const std::string kProgramFiles = std::string("O:") + kTi + "D:PAI(A;;FA;;;" + kTi + ")(A;CIIO;GA;;;" + kTi +
                                  ")(A;;0x1301bf;;;SY)(A;OICIIO;GA;;;SY)(A;;0x1301bf;;;BA)(A;OICIIO;GA;;;BA)"
                                  "(A;;0x1200a9;;;BU)(A;OICIIO;GXGR;;;BU)(A;OICIIO;GA;;;CO)(A;;0x1200a9;;;AC)";
const std::string kInherited = std::string("(A;ID;FA;;;") + kTi + ")(A;ID;FA;;;SY)(A;OICIIOID;GA;;;SY)"
                               "(A;ID;FA;;;BA)(A;ID;0x1200a9;;;BU)(A;OICIIOID;GXGR;;;BU)(A;OICIIOID;GA;;;CO)";
const std::string kProduct = "O:BAD:AI" + kInherited;
const std::string kProgram = "O:BAD:AI" + kInherited;
constexpr char kUser[] = "S-1-5-21-1-2-3-1001";
constexpr char kWineUser[] = "S-1-5-21-0-0-0-1000";

struct Case {
  const char* name;
  std::string program, product, above;  // the chain: program, its folder, a folder above, the root
  std::size_t at;                       // index in the chain of the expected finding
  std::string principal;                // empty: safe (or, with `what`, an unreadable descriptor)
  std::string what;
};

TEST(OutsideWriters, JudgesTheProgramAndEveryFolderAboveIt) {
  const std::string profile = std::string("O:") + kUser + "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;" +
                              kUser + ")";
  const Case cases[] = {
      {"Program Files as installed", kProgram, kProduct, kProgramFiles, 0, "", ""},
      {"a per-user install under the profile", kProgram, "O:BAD:AI" + kInherited, profile, 2, kUser,
       "change its access list as its owner"},
      {"Users: modify on the product's folder", kProgram, "O:BAD:AI(A;OICI;0x1301bf;;;BU)" + kInherited,
       kProgramFiles, 1, "S-1-5-32-545", "add files"},
      {"a program owned by a user", std::string("O:") + kUser + "D:AI" + kInherited, kProduct, kProgramFiles, 0,
       kUser, "change its access list as its owner"},
      {"an inherited deny after an explicit allow takes nothing", kProgram,
       "O:BAD:AI(A;OICI;0x1301bf;;;BU)(D;OICIID;FWSDWDWODT;;;BU)" + kInherited, kProgramFiles, 1, "S-1-5-32-545",
       "add files"},
      {"a deny before the allow takes the writing rights", "O:BAD:(D;;FWSDWDWO;;;BU)(A;;0x1301bf;;;BU)(A;;FA;;;SY)",
       kProduct, kProgramFiles, 0, "", ""},
      {"Everyone's deny leaves what it does not name", "O:BAD:(D;;FW;;;WD)(A;;FA;;;AU)", kProduct, kProgramFiles, 0,
       "S-1-5-11", "delete"},
      {"generic write on the program", "O:BAD:(A;;GW;;;BU)", kProduct, kProgramFiles, 0, "S-1-5-32-545", "write"},
      {"deleting what the folder holds", kProgram, "O:BAD:(A;;0x1200e9;;;IU)", kProgramFiles, 1, "S-1-5-4",
       "delete what it holds"},
      {"adding folders beside the program", kProgram, "O:BAD:(A;;LC;;;AU)", kProgramFiles, 1, "S-1-5-11",
       "add folders"},
      {"adding files to a folder above", kProgram, kProduct, "O:BAD:(A;;DC;;;AU)", 2, "S-1-5-11", "add files"},
      {"taking a folder above", kProgram, kProduct, "O:SYD:(A;;WO;;;S-1-5-21-9-9-9-500)", 2,
       "S-1-5-21-9-9-9-500", "take ownership"},
      {"creator owner outside a template", "O:BAD:(A;;FA;;;CO)(A;;FA;;;OW)(A;;FA;;;SY)", kProduct, kProgramFiles, 0,
       "", ""},
      {"a null DACL", "O:BAD:NO_ACCESS_CONTROL", kProduct, kProgramFiles, 0, "S-1-1-0",
       "do anything (it has no access list)"},
      {"a conditional allow counts", std::string("O:BAD:(XA;;FA;;;WD;(Member_of {SID(BA)} && (@User.x == \")\")))"),
       kProduct, kProgramFiles, 0, "S-1-1-0", "write"},
      {"an object ACE cannot be judged", "O:BAD:(OA;;FA;bf967aba-0de6-11d0-a285-00aa003049e2;;BU)", kProduct,
       kProgramFiles, 0, "", "its access list cannot be judged (an ACE of type \"OA\" in the DACL at 6)"},
      {"Wine's descriptor, its account untrusted",
       std::string("O:") + kWineUser + "D:(A;;FA;;;SY)(A;;FA;;;" + kWineUser + ")(A;;0x1200a9;;;WD)", kProduct,
       kProgramFiles, 0, kWineUser, "change its access list as its owner"},
  };
  for (const Case& c : cases) {
    const std::vector<PathDescriptor> chain{
        {"C:\\P\\V\\u.exe", c.program}, {"C:\\P\\V", c.product}, {"C:\\P", c.above}, {"C:\\", kRoot}};
    const std::optional<OutsideWriter> writer = FindOutsideWriter(chain, TrustedWriters());
    if (c.principal.empty() && c.what.empty()) {
      EXPECT_FALSE(writer) << c.name << ": " << writer->principal << " " << writer->what << " " << writer->path;
      continue;
    }
    ASSERT_TRUE(writer) << c.name;
    EXPECT_EQ(writer->path, chain[c.at].path) << c.name;
    EXPECT_EQ(writer->principal, c.principal) << c.name;
    EXPECT_EQ(writer->what, c.what) << c.name;
  }
}

TEST(OutsideWriters, AnExtraTrustedAccountStillLeavesEveryonesWriteToBeFound) {
  // What Wine reports for a folder of mode 0777: its one account owns it, Everyone may write.
  const std::string wine = std::string("O:") + kWineUser + "D:(A;OICI;FA;;;SY)(A;OICI;FA;;;" + kWineUser + ")";
  std::vector<std::string> trusted = TrustedWriters();
  trusted.push_back(kWineUser);
  EXPECT_FALSE(FindOutsideWriter({{"Z:\\a.exe", wine + "(A;;0x1200a9;;;WD)"}, {"Z:\\", wine}}, trusted));
  const std::optional<OutsideWriter> writer =
      FindOutsideWriter({{"Z:\\t\\a.exe", wine}, {"Z:\\t", wine + "(A;OICI;0x1301ff;;;WD)"}}, trusted);
  ASSERT_TRUE(writer);
  EXPECT_EQ(writer->principal + " " + writer->what, "S-1-1-0 add files");
}

TEST(SecurityDescriptorText, RefusesWhatItCannotReadAndSaysWhere) {
  const struct {
    const char* sddl;
    const char* error;
    std::size_t position;
  } cases[] = {
      {"O:BAD:(A;;FA;;;SY", "an ACE without its closing parenthesis", 6},
      //      ^
      {"O:BAD:(A;;FA;;;SY)(A;;ZZ;;;BU)", "unknown rights \"ZZ\"", 18},
      //                  ^
      {"O:BAQ:", "expected O:, G:, D: or S:", 4},
      {"O:S-1-5-Q", "not a SID", 2},
      {"O:BAO:SY", "a second O: section", 4},
      {"O:BAD:(AU;SA;FA;;;WD)", "an ACE of type \"AU\" in the DACL", 6},
      {"O:BAD:(A;XY;FA;;;WD)", "unknown ACE flags \"XY\"", 6},
      {"O:BAD:PX(A;;FA;;;WD)", "unknown ACL flags", 7},
  };
  for (const auto& c : cases) {
    const SddlReading reading = ReadSddl(c.sddl);
    EXPECT_FALSE(reading.descriptor) << c.sddl;
    EXPECT_EQ(reading.error, c.error) << c.sddl;
    EXPECT_EQ(reading.position, c.position) << c.sddl;
  }
  // The SACL is read past, rights in decimal and the group are taken.
  const SddlReading read = ReadSddl("O:SYG:SYD:P(A;;1179817;;;BU)S:AI(AU;SAFA;FA;;;WD)");
  ASSERT_TRUE(read.descriptor) << read.error;
  EXPECT_EQ(read.descriptor->owner, "S-1-5-18");
  ASSERT_EQ(read.descriptor->dacl.size(), 1u);
  EXPECT_EQ(read.descriptor->dacl[0].rights, 0x1200a9u);
}

TEST(OutsideWriters, FolderChainEndsAtTheRoot) {
  using Chain = std::vector<std::string>;
  EXPECT_EQ(FolderChainOf("C:\\P F\\V\\u.exe"), (Chain{"C:\\P F\\V\\u.exe", "C:\\P F\\V", "C:\\P F", "C:\\"}));
  EXPECT_EQ(FolderChainOf("\\\\srv\\share\\V\\u.exe"),
            (Chain{"\\\\srv\\share\\V\\u.exe", "\\\\srv\\share\\V", "\\\\srv\\share\\"}));
  EXPECT_EQ(FolderChainOf("\\\\?\\C:\\V\\u.exe"), (Chain{"\\\\?\\C:\\V\\u.exe", "\\\\?\\C:\\V", "\\\\?\\C:\\"}));
  EXPECT_EQ(FolderChainOf("V\\u.exe"), Chain{});
  EXPECT_EQ(FolderChainOf("\\\\srv\\u.exe"), Chain{});
}

}  // namespace
}  // namespace velmora::app
