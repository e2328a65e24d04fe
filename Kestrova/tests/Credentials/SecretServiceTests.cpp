// Runs under tests/with-secret-service: a private D-Bus session with an unlocked GNOME Keyring.
#include "Service/CredentialStore.hpp"

#include "joblark/Foundation/Log.hpp"

#include <gtest/gtest.h>

#include <libsecret/secret.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

using namespace kestrova;

namespace {

// The item as another Secret Service client sees it.
SecretSchema credentialSchema() {
    SecretSchema schema{};
    schema.name = "org.kestrova.Credentials";
    schema.flags = SECRET_SCHEMA_NONE;
    schema.attributes[0].name = "account";
    schema.attributes[0].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
    schema.attributes[1].name = "service";
    schema.attributes[1].type = SECRET_SCHEMA_ATTRIBUTE_STRING;
    return schema;
}

std::optional<std::string> rawStoredSecret() {
    auto schema = credentialSchema();
    GError* error = nullptr;
    gchar* value = secret_password_lookup_sync(&schema, nullptr, &error, "account", "UserCredentials",
                                               "service", "kestrova", nullptr);
    if (error)
        g_error_free(error);
    if (!value)
        return std::nullopt;
    std::string text(value);
    secret_password_free(value);
    return text;
}

class SecretServiceStore : public ::testing::Test {
protected:
    void SetUp() override {
        // The wrapper gives every test its own bus and home; without it these tests would touch the
        // user's own keyring.
        ASSERT_NE(std::getenv("DBUS_SESSION_BUS_ADDRESS"), nullptr) << "run under tests/with-secret-service";
    }
};

} // namespace

TEST_F(SecretServiceStore, SavedTokenLoadsBackAndPurgeRemovesIt) {
    EXPECT_EQ(loadCredentials(), std::nullopt);
    joblark::LogCapture log;
    ASSERT_TRUE(saveCredentials("first-token"));
    EXPECT_EQ(loadCredentials(), "first-token");
    // Insert or replace: a second save leaves one record with the new token.
    ASSERT_TRUE(saveCredentials("second token: ünïcode"));
    EXPECT_EQ(loadCredentials(), "second token: ünïcode");
    EXPECT_EQ(rawStoredSecret(), R"({"origin":"https://quillnest.example","token":"second token: ünïcode"})");
    // The keyring answered, so no file copy and no fallback warning.
    EXPECT_FALSE(std::filesystem::exists(CredentialStore::fallbackFile()));
    EXPECT_FALSE(log.contains("No Secret Service answered"));

    purgeCredentials();
    EXPECT_EQ(loadCredentials(), std::nullopt);
    EXPECT_EQ(rawStoredSecret(), std::nullopt);
    EXPECT_FALSE(log.contains("Could not save keychain data!"));
    EXPECT_FALSE(log.contains("Could not purge keychain data!"));
    // Purging again (nothing stored) is not a failure.
    purgeCredentials();
    EXPECT_FALSE(log.contains("Could not purge keychain data!"));
}

TEST_F(SecretServiceStore, RecordWithoutAStringTokenLoadsAsNothing) {
    auto schema = credentialSchema();
    for (const char* content : {R"({"token":42})", R"({"other":"x"})", "not json", "", R"(["token"])"}) {
        GError* error = nullptr;
        ASSERT_TRUE(secret_password_store_sync(&schema, SECRET_COLLECTION_DEFAULT, "test", content, nullptr,
                                               &error, "account", "UserCredentials", "service", "kestrova",
                                               nullptr));
        EXPECT_EQ(loadCredentials(), std::nullopt) << content;
    }
}

TEST_F(SecretServiceStore, SavingToTheKeyringRemovesAFileCopyFromAHeadlessSession) {
    auto file = CredentialStore::fallbackFile();
    std::filesystem::create_directories(file.parent_path());
    {
        std::ofstream out(file);
        out << R"({"token":"old-file-token"})";
    }
    // A token left by a headless session is still found while the keyring holds none...
    EXPECT_EQ(loadCredentials(), "old-file-token");
    // ...and goes once the keyring holds one.
    ASSERT_TRUE(saveCredentials("keyring-token"));
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(loadCredentials(), "keyring-token");
}
