#include "tessary_core/ModelUtilities.h"

#include "platform/system/TemporaryDirectory.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using tessary::ModelUtilities;

namespace {

class ModelFolder : public ::testing::Test {
protected:
    void makePackage(const std::string& name) {
        fs::path file = root / (name + ".mlpackage") / "Data/com.apple.CoreML/model.mlmodel";
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "m";
    }
    void makeCompiled(const fs::path& folder) { fs::create_directories(folder); }
    platform::system::TemporaryDirectory scratch{"zv-models-"};
    fs::path root = scratch.path();
};

} // namespace

TEST_F(ModelFolder, NamedLookupPrefersTheCompiledModel) {
    const fs::path compiled = root / "Model.mlmodelc";
    const fs::path packageFile = root / "Model.mlpackage/Data/com.apple.CoreML/model.mlmodel";
    EXPECT_EQ(ModelUtilities::detectModelURL(root, "Model"), compiled); // neither
    makePackage("Model");
    EXPECT_EQ(ModelUtilities::detectModelURL(root, "Model"), packageFile); // package only
    makeCompiled(compiled);
    EXPECT_EQ(ModelUtilities::detectModelURL(root, "Model"), compiled); // both
}

TEST_F(ModelFolder, RecursiveLookupFindsNestedModels) {
    makeCompiled(root / "a/b/Decoder.mlmodelc");
    EXPECT_EQ(ModelUtilities::detectModelURL(root, "Decoder", true), root / "a/b/Decoder.mlmodelc");
    EXPECT_EQ(ModelUtilities::detectModelURL(root, "Decoder", false), root / "Decoder.mlmodelc");
    EXPECT_EQ(ModelUtilities::detectModelURL(root, "Missing", true), root / "Missing.mlmodelc");
    EXPECT_EQ(ModelUtilities::detectModelURL(root / "nope", "X", true), root / "nope/X.mlmodelc");
}

TEST_F(ModelFolder, UnnamedLookup) {
    EXPECT_EQ(ModelUtilities::detectModelURL(root), std::nullopt);
    EXPECT_EQ(ModelUtilities::detectModelURL(root / "missing"), std::nullopt);
    std::ofstream(root / "notes.txt") << "x";
    makePackage("Pkg");
    EXPECT_EQ(ModelUtilities::detectModelURL(root),
              root / "Pkg.mlpackage/Data/com.apple.CoreML/model.mlmodel");
    makeCompiled(root / "Enc.mlmodelc");
    EXPECT_EQ(ModelUtilities::detectModelURL(root),
              root / "Enc.mlmodelc"); // compiled wins whatever the order
}
