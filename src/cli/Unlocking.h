#pragma once
// The command line's side of encrypted volumes: the secret from --password-file, --key-file or
// a prompt on the terminal, and the chosen volume replaced by its unlocked self.

#include <ostream>
#include <string>

#include "cli/Cli.h"
#include "cli/CliSupport.h"
#include "device/crypt/Unlock.h"

namespace corvello::cli {

// The key or password given does not unlock the volume: the message is shown, the exit status
// is kExitWrongKey.
struct WrongKey {
    std::string message;
};

// The unlock options every command that reads a volume takes.
inline const std::set<std::string> kUnlockOptions = {"--password-file", "--key-file"};

// The secret the options give (a password file's first line, told apart from a BitLocker
// recovery password by its shape; a key file's bytes), or none. UsageError when both are given,
// InputError when a file cannot be read.
UnlockSecret secretFromOptions(const Args& args);

// When volume is a BitLocker or LUKS volume: unlocks it with the options' secret (or one typed
// at a prompt, when standard input is a terminal and no option gave one), keeps the unlocked
// source in image, and returns the record of the volume it holds (from its byte 0). Else returns
// volume as it is. InputError when it stays locked; WrongKey when the secret is wrong.
VolumeRecord unlockIfEncrypted(OpenedImage& image, const VolumeRecord& volume, const Args& args);

// For the volume list: "locked", or "unlocked" and what it holds, with the secret given (if any).
std::string encryptionState(const ByteSource& medium, const VolumeRecord& volume, const UnlockSecret& secret);

}  // namespace corvello::cli
