// Trusts the tests' throw-away CA inside the Wine prefix that the tests run
// in, and nowhere else: adds the certificate to the prefix's ROOT store.
//   trust_test_ca CA.pem
// Wine saves the store only when it is committed with no certificate context
// of it still held.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: trust_test_ca CA.pem\n");
        return 2;
    }
    std::ifstream file(argv[1], std::ios::binary);
    const std::string pem((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    DWORD size = 0;
    if (pem.empty() || !CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                                             nullptr, &size, nullptr, nullptr)) {
        std::fprintf(stderr, "trust_test_ca: %s is not a PEM certificate\n", argv[1]);
        return 1;
    }
    std::vector<BYTE> der(size);
    CryptStringToBinaryA(pem.c_str(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size,
                         nullptr, nullptr);

    HCERTSTORE store = CertOpenSystemStoreA(0, "ROOT");
    if (store == nullptr) {
        std::fprintf(stderr, "trust_test_ca: no ROOT store (%lu)\n", GetLastError());
        return 1;
    }
    PCCERT_CONTEXT added = nullptr;
    const bool stored = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                                         CERT_STORE_ADD_REPLACE_EXISTING, &added);
    const DWORD error = GetLastError();
    if (added != nullptr) CertFreeCertificateContext(added);
    const bool committed = stored && CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(store, 0);
    if (!committed) {
        std::fprintf(stderr, "trust_test_ca: the certificate was not stored (%lu)\n", stored ? GetLastError() : error);
        return 1;
    }
    std::printf("trusted %s\n", argv[1]);
    return 0;
}
