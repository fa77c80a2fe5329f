#include "server/TlsChannel.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

#include "server/tds/Packet.h"
#include "server/tds/Protocol.h"

namespace vopa::server {

namespace {

// The reasons OpenSSL queued for the last failure, oldest first; the queue is emptied.
std::string openSslReasons() {
    std::string text;
    while (const unsigned long e = ERR_get_error()) {
        char buffer[256];
        ERR_error_string_n(e, buffer, sizeof buffer);
        if (!text.empty()) text += "; ";
        text += buffer;
    }
    return text.empty() ? "unknown reason" : text;
}

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what + ": " + openSslReasons()); }

SSL_CTX* newContext() {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (!context) fail("cannot set up TLS");
    // TDS 7.x clients carry the handshake inside PRELOGIN packets, and those that keep the client's
    // last handshake flight for the next packet (FreeTDS among them) cannot end a TLS 1.3 handshake
    // that way: TLS 1.2, as SQL Server offers for TDS 7.x.
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION);
    // No resumption (each connection makes a full handshake) and no renegotiation: the handshake's
    // PRELOGIN packets happen once, before the login.
    SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_options(context, SSL_OP_NO_TICKET | SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
    return context;
}

// A file's whole content, or an error naming it and the system's reason.
std::string readWhole(const std::filesystem::path& file, const char* what) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error(std::string("cannot read the ") + what + " " + file.string() + ": " + std::strerror(errno));
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Writes `bytes` to `file` through a temporary file in the same folder renamed over it, so that a
// reader (or a later start after a kill) sees the old file or the whole new one, never a part.
void writeAtomically(const std::filesystem::path& file, const std::string& bytes, mode_t mode) {
    const std::filesystem::path temporary = file.string() + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) throw std::runtime_error("cannot write " + temporary.string() + ": " + std::strerror(errno));
    ::fchmod(fd, mode);  // the file may have been left by a start that was killed, with other rights
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const std::string reason = std::strerror(errno);
            ::close(fd);
            throw std::runtime_error("cannot write " + temporary.string() + ": " + reason);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0)
        throw std::runtime_error("cannot write " + temporary.string() + ": " + std::strerror(errno));
    if (::rename(temporary.c_str(), file.c_str()) != 0)
        throw std::runtime_error("cannot write " + file.string() + ": " + std::strerror(errno));
}

std::string pem(const std::function<int(BIO*)>& write) {
    BIO* memory = BIO_new(BIO_s_mem());
    if (!memory || write(memory) != 1) {
        BIO_free(memory);
        fail("cannot write the self-signed certificate");
    }
    char* data = nullptr;
    const long length = BIO_get_mem_data(memory, &data);
    std::string text(data, static_cast<std::size_t>(length));
    BIO_free(memory);
    return text;
}

// A new EC P-256 key and a certificate of it signed by itself, as PEM: {certificate, key}.
std::pair<std::string, std::string> makeSelfSigned(const std::string& hostName) {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    if (!key) fail("cannot make a key");
    X509* certificate = X509_new();
    BIGNUM* serial = BN_new();
    auto release = [&] {
        BN_free(serial);
        X509_free(certificate);
        EVP_PKEY_free(key);
    };
    try {
        const std::string name = hostName.empty() ? "localhost" : hostName.substr(0, 64);
        X509_NAME* subject = X509_get_subject_name(certificate);
        const std::string altName = "DNS:" + name;
        X509V3_CTX v3;
        X509V3_set_ctx_nodb(&v3);
        X509V3_set_ctx(&v3, certificate, certificate, nullptr, nullptr, 0);
        bool ok = certificate && serial && X509_set_version(certificate, 2) == 1 &&
                  BN_rand(serial, 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1 &&
                  BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(certificate)) != nullptr &&
                  X509_gmtime_adj(X509_getm_notBefore(certificate), 0) != nullptr &&
                  X509_time_adj_ex(X509_getm_notAfter(certificate), 3653, 0, nullptr) != nullptr &&
                  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                                             reinterpret_cast<const unsigned char*>(name.c_str()), -1, -1, 0) == 1 &&
                  X509_set_issuer_name(certificate, subject) == 1 && X509_set_pubkey(certificate, key) == 1;
        for (const auto& [id, value] : {std::pair<int, std::string>{NID_basic_constraints, "critical,CA:FALSE"},
                                        {NID_key_usage, "critical,digitalSignature"},
                                        {NID_ext_key_usage, "serverAuth"},
                                        {NID_subject_alt_name, altName}}) {
            if (!ok) break;
            X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &v3, id, value.c_str());
            ok = extension && X509_add_ext(certificate, extension, -1) == 1;
            X509_EXTENSION_free(extension);
        }
        if (!ok || X509_sign(certificate, key, EVP_sha256()) == 0) fail("cannot make the self-signed certificate");
        auto result = std::make_pair(pem([&](BIO* b) { return PEM_write_bio_X509(b, certificate); }),
                                     pem([&](BIO* b) {
                                         return PEM_write_bio_PrivateKey(b, key, nullptr, nullptr, 0, nullptr, nullptr);
                                     }));
        release();
        return result;
    } catch (...) {
        release();
        throw;
    }
}

}  // namespace

TlsContext::TlsContext() : context_(newContext()) {}

TlsContext::~TlsContext() { SSL_CTX_free(context_); }

std::shared_ptr<const TlsContext> TlsContext::fromFiles(const std::filesystem::path& certificate,
                                                        const std::filesystem::path& key) {
    // Read first with the system's own words for a missing or unreadable file.
    readWhole(certificate, "certificate");
    std::shared_ptr<TlsContext> t(new TlsContext());
    ERR_clear_error();
    if (SSL_CTX_use_certificate_chain_file(t->context_, certificate.c_str()) != 1)
        fail("cannot read the certificate " + certificate.string() + " (a PEM certificate)");
    const std::string keyPem = readWhole(key, "key");
    BIO* memory = BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size()));
    // No passphrase: a key that asks for one is refused rather than prompted for.
    EVP_PKEY* privateKey = memory ? PEM_read_bio_PrivateKey(memory, nullptr, [](char*, int, int, void*) { return 0; }, nullptr)
                                  : nullptr;
    BIO_free(memory);
    if (!privateKey) fail("cannot read the key " + key.string() + " (a PEM private key without a passphrase)");
    const bool used = SSL_CTX_use_PrivateKey(t->context_, privateKey) == 1;
    EVP_PKEY_free(privateKey);
    if (!used || SSL_CTX_check_private_key(t->context_) != 1)
        fail("the key " + key.string() + " does not match the certificate " + certificate.string());
    return t;
}

std::shared_ptr<const TlsContext> TlsContext::selfSigned(const std::filesystem::path& folder, const std::string& hostName) {
    const std::filesystem::path certificate = folder / kSelfSignedCertificateFile;
    const std::filesystem::path key = folder / kSelfSignedKeyFile;
    // Two servers starting at once make the pair once: the second waits and reads what the first wrote.
    const std::filesystem::path lockPath = folder / "server-certificate.lock";
    const int lock = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lock < 0) throw std::runtime_error("cannot open " + lockPath.string() + ": " + std::strerror(errno));
    while (::flock(lock, LOCK_EX) != 0 && errno == EINTR) {
    }
    try {
        std::error_code ec;
        if (!std::filesystem::exists(certificate, ec) || !std::filesystem::exists(key, ec)) {
            // The key first: a kill between the two renames leaves no certificate, and the next start
            // makes both again.
            const auto [certificatePem, keyPem] = makeSelfSigned(hostName);
            std::filesystem::remove(certificate, ec);
            writeAtomically(key, keyPem, 0600);
            writeAtomically(certificate, certificatePem, 0644);
        }
        auto context = fromFiles(certificate, key);
        ::close(lock);
        return context;
    } catch (...) {
        ::close(lock);
        throw;
    }
}

TlsChannel::TlsChannel(const TlsContext& context, bool loginOnly, std::uint16_t spid)
    : loginOnly_(loginOnly), spid_(spid) {
    ssl_ = SSL_new(context.get());
    in_ = BIO_new(BIO_s_mem());
    out_ = BIO_new(BIO_s_mem());
    if (!ssl_ || !in_ || !out_) {
        BIO_free(in_);
        BIO_free(out_);
        SSL_free(ssl_);
        fail("cannot start TLS");
    }
    // An empty memory buffer means "no bytes yet", not the end of the stream.
    BIO_set_mem_eof_return(in_, -1);
    BIO_set_mem_eof_return(out_, -1);
    SSL_set_bio(ssl_, in_, out_);  // the SSL object owns both from here
    SSL_set_accept_state(ssl_);
}

TlsChannel::~TlsChannel() { SSL_free(ssl_); }

void TlsChannel::receive(tds::ByteView raw, tds::Bytes& plain) {
    if (state_ == State::Handshake) handshakePackets(raw);
    if (raw.empty()) return;
    if (state_ == State::Ended) {
        plain.insert(plain.end(), raw.begin(), raw.end());
        return;
    }
    BIO_write(in_, raw.data(), static_cast<int>(raw.size()));
    records(plain);
}

void TlsChannel::handshakePackets(tds::ByteView& raw) {
    while (!raw.empty() && state_ == State::Handshake) {
        std::size_t want = tds::kHeaderSize;
        if (packet_.size() >= tds::kHeaderSize) want = tds::PacketHeader::read(packet_).length;
        const std::size_t take = std::min(want - packet_.size(), raw.size());
        packet_.insert(packet_.end(), raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(take));
        raw = raw.subspan(take);
        if (packet_.size() < tds::kHeaderSize) continue;
        const tds::PacketHeader h = tds::PacketHeader::read(packet_);
        if (packet_.size() == tds::kHeaderSize) {
            if (h.type != static_cast<std::uint8_t>(tds::PacketType::Prelogin))
                throw tds::ProtocolError("a packet of type " + std::to_string(h.type) + " instead of the TLS handshake");
            if (h.length < tds::kHeaderSize || h.length > tds::kMaxPacketSize)
                throw tds::ProtocolError("a TLS handshake packet of " + std::to_string(h.length) + " bytes");
        }
        if (packet_.size() < h.length) continue;
        BIO_write(in_, packet_.data() + tds::kHeaderSize, static_cast<int>(packet_.size() - tds::kHeaderSize));
        packet_.clear();
        ERR_clear_error();
        const int done = SSL_do_handshake(ssl_);
        tds::Bytes answer;
        drainOutput(answer);
        if (!answer.empty()) tds::writePackets(tds::PacketType::Prelogin, answer, tds::kDefaultPacketSize, spid_, outgoing_);
        if (done == 1) {
            state_ = State::Open;
        } else {
            const int error = SSL_get_error(ssl_, done);
            if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
                throw tds::ProtocolError("TLS handshake failed: " + openSslReasons());
        }
    }
}

void TlsChannel::records(tds::Bytes& plain) {
    std::uint8_t buffer[16384];
    while (state_ == State::Open) {
        ERR_clear_error();
        const int n = SSL_read(ssl_, buffer, sizeof buffer);
        if (n <= 0) {
            const int error = SSL_get_error(ssl_, n);
            if (error == SSL_ERROR_ZERO_RETURN) closedByClient_ = true;
            else if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
                throw tds::ProtocolError("TLS: " + openSslReasons());
            break;
        }
        plain.insert(plain.end(), buffer, buffer + n);
        if (!loginOnly_) continue;
        // Login only: TLS carries the client's first packet alone. Once it is whole, what the memory
        // buffer holds beyond its record came in plain.
        for (int i = 0; i < n && firstHeader_.size() < tds::kHeaderSize; ++i) firstHeader_.push_back(buffer[i]);
        firstPacket_ += static_cast<std::size_t>(n);
        if (firstHeader_.size() == tds::kHeaderSize && firstPacket_ >= tds::PacketHeader::read(firstHeader_).length) {
            state_ = State::Ended;
            std::uint8_t rest[16384];
            int k;
            while ((k = BIO_read(in_, rest, sizeof rest)) > 0) plain.insert(plain.end(), rest, rest + k);
        }
    }
    drainOutput(outgoing_);
}

tds::Bytes TlsChannel::send(tds::ByteView plain) {
    if (state_ != State::Open) return tds::Bytes(plain.begin(), plain.end());
    std::size_t at = 0;
    while (at < plain.size()) {
        ERR_clear_error();
        const int n = SSL_write(ssl_, plain.data() + at, static_cast<int>(std::min<std::size_t>(plain.size() - at, 1 << 20)));
        if (n <= 0) throw tds::ProtocolError("TLS: " + openSslReasons());
        at += static_cast<std::size_t>(n);
    }
    tds::Bytes out = takeOutgoing();
    drainOutput(out);
    return out;
}

tds::Bytes TlsChannel::takeOutgoing() {
    tds::Bytes out;
    out.swap(outgoing_);
    return out;
}

void TlsChannel::drainOutput(tds::Bytes& out) {
    std::uint8_t buffer[16384];
    int n;
    while ((n = BIO_read(out_, buffer, sizeof buffer)) > 0) out.insert(out.end(), buffer, buffer + n);
}

}  // namespace vopa::server
