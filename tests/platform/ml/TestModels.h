#pragma once
// Tiny generated model folders shared by the runtime's tests, written once
// per test program into a private temporary folder.

#include "model_gen/ModelGenerator.h"

#include <filesystem>
#include <string>
#include <unistd.h>

namespace mltest {

inline std::filesystem::path scratchFolder(const std::string& name) {
    auto folder = std::filesystem::temp_directory_path() /
                  ("zv-ml-test-" + std::to_string(::getpid()) + "-" + name);
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

/// Float32 weights, so that tests can rebuild the exact values with modelgen::fillWeight.
inline modelgen::GeneratorOptions exactOptions() {
    modelgen::GeneratorOptions options;
    options.dimensions = modelgen::tinyTestDimensions();
    options.dimensions.nVocab = 300;  // small vocabulary keeps the reference pass quick
    options.dimensions.nTextCtx = 64;
    options.dimensions.kvCacheLength = 32;
    options.weightType = platform::ml::ElementType::float32;
    options.seed = 7;
    return options;
}

}  // namespace mltest
