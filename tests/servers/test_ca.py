#!/usr/bin/python3
"""A certificate authority for the TLS tests, made fresh by each test run.

    test_ca.py FOLDER [--host NAME]...

writes into FOLDER (PEM):
    ca.pem                  the authority's certificate (trust it through the
                            trust file, never through the system's store)
    good.pem, good.key      a server certificate for every --host (default
                            localhost and 127.0.0.1), valid for a year
    expired.pem/.key        the same names, expired yesterday
    wrongname.pem/.key      valid, for other.example.invalid only
    selfsigned.pem/.key     valid, the right names, signed by itself
    fingerprints.txt        "NAME SHA256HEX" of each server certificate
Import it to get the same as Python objects: make(folder, hosts).
"""
import datetime
import hashlib
import ipaddress
import os
import sys

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

DAY = datetime.timedelta(days=1)


def _key():
    # RSA rather than EC: every TLS stack the tests meet (Wine's too) takes it.
    return rsa.generate_private_key(public_exponent=65537, key_size=2048)


def _names(hosts):
    names = []
    for host in hosts:
        try:
            names.append(x509.IPAddress(ipaddress.ip_address(host)))
        except ValueError:
            names.append(x509.DNSName(host))
    return names


def _certificate(subject_name, key, issuer_name, issuer_key, hosts, start, end, ca=False):
    builder = (x509.CertificateBuilder()
               .subject_name(x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, subject_name)]))
               .issuer_name(x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, issuer_name)]))
               .public_key(key.public_key())
               .serial_number(x509.random_serial_number())
               .not_valid_before(start)
               .not_valid_after(end)
               .add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=True)
               .add_extension(x509.SubjectKeyIdentifier.from_public_key(key.public_key()), critical=False))
    if ca:
        builder = builder.add_extension(
            x509.KeyUsage(digital_signature=True, content_commitment=False, key_encipherment=False,
                          data_encipherment=False, key_agreement=False, key_cert_sign=True, crl_sign=True,
                          encipher_only=False, decipher_only=False), critical=True)
    else:
        builder = (builder
                   .add_extension(x509.SubjectAlternativeName(_names(hosts)), critical=False)
                   .add_extension(x509.ExtendedKeyUsage([ExtendedKeyUsageOID.SERVER_AUTH]), critical=False))
        if issuer_key is not key:
            builder = builder.add_extension(
                x509.AuthorityKeyIdentifier.from_issuer_public_key(issuer_key.public_key()), critical=False)
    return builder.sign(issuer_key, hashes.SHA256())


def _write(folder, name, certificate, key=None):
    with open(os.path.join(folder, name + ".pem"), "wb") as f:
        f.write(certificate.public_bytes(serialization.Encoding.PEM))
    if key is not None:
        with open(os.path.join(folder, name + ".key"), "wb") as f:
            f.write(key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                      serialization.NoEncryption()))


def fingerprint(certificate):
    return hashlib.sha256(certificate.public_bytes(serialization.Encoding.DER)).hexdigest()


def make(folder, hosts=("localhost", "127.0.0.1")):
    """Writes the files; returns {name: sha256 hex} of the server certificates."""
    os.makedirs(folder, exist_ok=True)
    now = datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)
    ca_key = _key()
    ca = _certificate("Kestrovane Test Authority", ca_key, "Kestrovane Test Authority", ca_key, [],
                      now - DAY, now + 3650 * DAY, ca=True)
    _write(folder, "ca", ca)
    prints = {}
    for name, names, start, end, self_signed in (
            ("good", hosts, now - DAY, now + 365 * DAY, False),
            ("expired", hosts, now - 30 * DAY, now - DAY, False),
            ("wrongname", ["other.example.invalid"], now - DAY, now + 365 * DAY, False),
            ("selfsigned", hosts, now - DAY, now + 365 * DAY, True)):
        key = _key()
        if self_signed:
            certificate = _certificate(names[0], key, names[0], key, names, start, end)
        else:
            certificate = _certificate(names[0], key, "Kestrovane Test Authority", ca_key, names, start, end)
        _write(folder, name, certificate, key)
        prints[name] = fingerprint(certificate)
    with open(os.path.join(folder, "fingerprints.txt"), "w") as f:
        for name, value in prints.items():
            f.write("%s %s\n" % (name, value))
    return prints


def main():
    args = sys.argv[1:]
    if not args:
        sys.exit(__doc__)
    folder, hosts = args[0], []
    rest = args[1:]
    while rest:
        if rest[0] == "--host" and len(rest) > 1:
            hosts.append(rest[1])
            rest = rest[2:]
        else:
            sys.exit("unknown argument: %s" % rest[0])
    make(folder, hosts or ("localhost", "127.0.0.1"))


if __name__ == "__main__":
    main()
