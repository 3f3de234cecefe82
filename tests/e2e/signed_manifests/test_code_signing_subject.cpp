// The subject velmora-update-test-signer.exe pins: the certificate the end-to-end tests make and sign with.
#include "update/code_signing.h"

std::string_view velmora::update::ConfiguredCodeSigningSubject() { return "Velmora Test Publisher"; }
