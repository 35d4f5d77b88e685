#pragma once
// The application's door to the speech engine: makes sure the Whisper model is
// on disk (downloading and unpacking the model archive on first use) and turns
// audio into cleaned text.

#include <filesystem>
#include <string>

namespace halvex {

class Transcriber {
public:
    /// The model archive's address: $HALVEX_ZOVURUV_MODEL_URL when set, else
    /// the product's model server with the path "/model.tar.gz".
    static std::string modelURL();

    /// $XDG_DATA_HOME (default ~/.local/share) + "Corvane Zovuruv"; created
    /// when missing (a failure to create it is ignored).
    static std::filesystem::path baseDir();
    static std::filesystem::path modelFolder();      ///< baseDir + the model folder
    static std::filesystem::path tokenizerFolder();  ///< baseDir + "corvanetok"

    /// Returns at once when the model folder exists; otherwise downloads the
    /// archive, unpacks it into a staging folder and moves its content into
    /// place, the model folder last, so a broken or partial archive never
    /// counts as installed. Throws platform::system::SystemError.
    static void ensureModelDownloaded();

    /// Removes every special-token marker "<|...|>" and trims white space.
    static std::string cleanup(const std::string& text);
};

}  // namespace halvex
