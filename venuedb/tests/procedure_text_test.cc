// The procedures file format: definitions split at GO lines, parameter
// declarations with types, defaults and OUTPUT, comments between definitions.
#include "procedure_text.h"

#include <gtest/gtest.h>

#include "sql_words.h"

namespace venuedb {
namespace {

TEST(ProcedureFileTest, SplitsDefinitionsAndKeepsBodies) {
  const std::string text =
      "-- leading comment\n"
      "CREATE PROCEDURE sp_addlog\n"
      "  @ipaddress varchar(20) = NULL,\n"
      "  @media_id int = 0,\n"
      "  @tradelog_id int = 0 OUTPUT, -- the new id\n"
      "  @error_string varchar(200) = 'it''s' OUTPUT\n"
      "AS\n"
      "INSERT INTO t(a) VALUES (@ipaddress);\n"
      "SELECT 1 AS \"@tradelog_id\";\n"
      "GO\n"
      "\n"
      "-- between\n"
      "create proc [dbo].[sp_plain] as select 1 as one;\n"
      "go\n";
  std::vector<ProcedureText> procedures;
  std::string error;
  ASSERT_TRUE(ParseProcedureFile(text, &procedures, &error)) << error;
  ASSERT_EQ(procedures.size(), 2u);
  EXPECT_EQ(procedures[0].name, "sp_addlog");
  EXPECT_EQ(procedures[0].params,
            "@ipaddress varchar(20) = NULL\n@media_id int = 0\n@tradelog_id "
            "int = 0 OUTPUT\n"
            "@error_string varchar(200) = 'it''s' OUTPUT\n");
  EXPECT_EQ(
      procedures[0].body,
      "INSERT INTO t(a) VALUES (@ipaddress);\nSELECT 1 AS \"@tradelog_id\";");
  EXPECT_EQ(procedures[1].name, "sp_plain");
  EXPECT_EQ(procedures[1].params, "");
  EXPECT_EQ(procedures[1].body, "select 1 as one;");
}

TEST(ProcedureFileTest, RejectsTextThatIsNotAProcedure) {
  std::vector<ProcedureText> procedures;
  std::string error;
  EXPECT_FALSE(ParseProcedureFile("SELECT 1;\nGO\n", &procedures, &error));
  EXPECT_NE(error.find("CREATE PROCEDURE"), std::string::npos);
  EXPECT_FALSE(ParseProcedureFile("CREATE PROCEDURE p @a int\nGO\n",
                                  &procedures, &error));
  EXPECT_NE(error.find("no AS"), std::string::npos);
}

TEST(ProcedureFileTest, BlockAndLineCommentsAreBlanksInTheHeader) {
  const std::string text =
      "/* before the definition,\n   across lines */\n"
      "CREATE /* kind */ PROCEDURE sp_c -- name\n"
      "  @a int /* one, */ = 1, /* @skipped int, AS */ @b varchar(20) = "
      "'x--y/*z' /* , */ OUTPUT\n"
      "  -- @c int,\n"
      "AS\n"
      "select @a as a; /* comments in the body stay */\n"
      "GO\n"
      "/* nothing but a comment */\nGO\n";
  std::vector<ProcedureText> procedures;
  std::string error;
  ASSERT_TRUE(ParseProcedureFile(text, &procedures, &error)) << error;
  ASSERT_EQ(procedures.size(), 1u);
  EXPECT_EQ(procedures[0].name, "sp_c");
  EXPECT_EQ(procedures[0].params,
            "@a int   = 1\n@b varchar(20) = 'x--y/*z'   OUTPUT\n");
  EXPECT_EQ(procedures[0].body,
            "select @a as a; /* comments in the body stay */");
}

TEST(ParamDeclTest, ReadsTypesDefaultsAndOutputFlags) {
  std::vector<ParamDecl> decls;
  std::string error;
  ASSERT_TRUE(
      ParseParamDecls("@a int = -4\n@b varchar (20) = 'x,y' OUT\n@c "
                      "datetime\n@d bigint = NULL OUTPUT, @e int",
                      &decls, &error))
      << error;
  ASSERT_EQ(decls.size(), 5u);
  EXPECT_EQ(decls[0].name, "@a");
  EXPECT_TRUE(decls[0].is_int);
  EXPECT_EQ(decls[0].default_value.kind, Value::kInt);
  EXPECT_EQ(decls[0].default_value.integer, -4);
  EXPECT_FALSE(decls[0].output);
  EXPECT_EQ(decls[1].type_text, "varchar(20)");
  EXPECT_FALSE(decls[1].is_int);
  EXPECT_EQ(decls[1].default_value.text, "x,y");
  EXPECT_TRUE(decls[1].output);
  EXPECT_FALSE(decls[2].is_int);
  EXPECT_TRUE(decls[2].default_value.is_null());
  EXPECT_TRUE(decls[3].is_int);
  EXPECT_TRUE(decls[3].output);
  EXPECT_TRUE(decls[3].default_value.is_null());
  EXPECT_EQ(decls[4].name, "@e");
}

TEST(ParamDeclTest, RejectsMalformedDeclarations) {
  std::vector<ParamDecl> decls;
  std::string error;
  EXPECT_FALSE(ParseParamDecls("a int", &decls, &error));
  EXPECT_FALSE(ParseParamDecls("@a int = 1 sometimes", &decls, &error));
  EXPECT_FALSE(ParseParamDecls("@a varchar(20", &decls, &error));
}

TEST(ParamDeclTest, NamesMatchInAnyCase) {
  EXPECT_TRUE(SameName("@Media_ID", "@media_id"));
  EXPECT_FALSE(SameName("@media_id", "@media_i"));
}

}  // namespace
}  // namespace venuedb
