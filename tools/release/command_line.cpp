#include "command_line.h"

#include <array>

namespace velmora::release {
namespace {

struct CommandShape {
  const char* name;
  std::size_t operands;
  std::set<std::string> values;    // options with a value
  std::set<std::string> required;  // of those, the ones that must be given
  std::set<std::string> flags;
  std::size_t fewestOperands = 0;  // below `operands`: the command also takes that many
};

const std::array<CommandShape, 10>& Shapes() {
  static const std::array<CommandShape, 10> shapes{{
      {"manifest",
       1,
       {"base-url", "run", "out", "key", "serial", "expires"},
       {"base-url", "run"},
       {"handoff", "content-addressed", "quiet"}},
      {"publish",
       2,
       {"base-url", "run", "key", "serial", "expires", "channel", "rollout", "mirror", "health-seconds"},
       {"base-url", "run"},
       {"unsigned", "quiet"}},
      {"upload", 2, {"rclone", "public-key"}, {}, {"quiet"}},
      {"rollout", 1, {"percent", "key", "channel", "expires"}, {"percent", "key"}, {"quiet"}},
      {"verify", 2, {"public-key", "base-url", "root"}, {}, {"handoff", "quiet"}, 1},
      {"diff", 2, {}, {}, {"handoff", "quiet"}},
      {"keygen", 0, {"out"}, {"out"}, {"force", "quiet"}},
      {"pubkey", 1, {}, {}, {"quiet"}},
      {"sign", 1, {"key", "signature", "public-key"}, {}, {"quiet"}},
      {"root",
       1,
       {"out", "previous", "root-key", "root-threshold", "release-key", "release-threshold", "expires", "key"},
       {"out"},
       {"quiet"}},
  }};
  return shapes;
}

const CommandShape* ShapeOf(const std::string& command) {
  for (const CommandShape& shape : Shapes()) {
    if (command == shape.name) return &shape;
  }
  return nullptr;
}

const char kProgramHelp[] =
    "velmora-release: builds, checks and compares releases of Velmora for the updater.\n"
    "\n"
    "  velmora-release manifest RELEASE_DIR --base-url URL --run FILE [--out FILE] [--handoff]\n"
    "                           [--content-addressed] [--key KEY_FILE]... [--serial N] [--expires TIME]\n"
    "      the manifest (up.txt) of a release folder\n"
    "  velmora-release publish RELEASE_DIR OUT_DIR --base-url URL --run FILE [--key KEY_FILE]...\n"
    "                          [--serial N] [--expires TIME] [--channel NAME] [--rollout PERCENT]\n"
    "                          [--mirror URL]... [--health-seconds N] [--unsigned]\n"
    "      the whole static tree to serve: download/2099/pro/up.txt and the files, content-addressed\n"
    "  velmora-release upload SITE DESTINATION [--rclone PROGRAM] [--public-key TEXT_OR_FILE]\n"
    "      copies a published tree to an object store or server through rclone, manifests last\n"
    "  velmora-release rollout SITE --percent PERCENT --key KEY_FILE... [--channel NAME] [--expires TIME]\n"
    "      widens, narrows or halts the staged rollout of the release published in SITE\n"
    "  velmora-release verify MANIFEST DIR [--handoff] [--public-key TEXT_OR_FILE] [--base-url URL]\n"
    "      checks a manifest with the updater's rules, and a folder or a served tree against it\n"
    "  velmora-release verify SITE [--root FILE]\n"
    "      checks a published tree's root chain and that every channel's manifest meets the newest\n"
    "      root's release threshold\n"
    "  velmora-release diff OLD NEW [--handoff]\n"
    "      what an update from OLD to NEW downloads (folders or manifests); exit status 1 when they\n"
    "      differ, as diff's\n"
    "  velmora-release keygen --out KEY_FILE [--force]\n"
    "      a signing key: the private key file, and the public key for the updater's build\n"
    "  velmora-release pubkey KEY_FILE\n"
    "      the public key text of a private key file (the tool's, or PEM)\n"
    "  velmora-release sign MANIFEST --key KEY_FILE...\n"
    "  velmora-release sign FILE --signature DER_FILE --public-key KEY_TEXT_OR_FILE\n"
    "      writes MANIFEST.sig, the signature that updaters built with the public key require\n"
    "  velmora-release root init|rotate --out FILE [--previous FILE] --root-key KEY... --root-threshold N\n"
    "                       --release-key KEY... --release-threshold N [--expires TIME] [--key KEY_FILE]...\n"
    "      a root record (docs/signing.md), signed by each --key\n"
    "  Every --out FILE and OUT_DIR is made with the folders it needs.\n"
    "\n"
    "velmora-release COMMAND --help tells more. Every command takes --quiet (no progress line).\n"
    "Exit status: 0 success, 1 a failed check or a release that cannot be published, 2 a usage error\n"
    "(an unknown command or option, a missing argument, an invalid URL, a folder or file that does\n"
    "not exist).\n";

const char kManifestHelp[] =
    "velmora-release manifest RELEASE_DIR --base-url URL --run FILE [--out FILE] [--handoff]\n"
    "                         [--content-addressed] [--key KEY_FILE]... [--serial N] [--expires TIME]\n"
    "                         [--quiet]\n"
    "\n"
    "Writes the manifest of every file below RELEASE_DIR, sorted by path: name, md5 (32 lower-case\n"
    "hex digits), url (URL joined with the file's path below the folder, percent-encoded), path\n"
    "(\"\\Bin\\x.dll\"), size and sha256, and `run` (FILE, a file of the release, relative to the\n"
    "folder).\n"
    "\n"
    "  --base-url URL        http:// or https:// address under which the files are served\n"
    "  --run FILE            the program the updater starts afterwards, e.g. Velmora.exe\n"
    "  --out FILE            write to FILE (replaced in one step) instead of standard output\n"
    "  --handoff             GBK for the hand-off file Bin\\Config\\UP.data instead of UTF-8\n"
    "  --content-addressed   url = URL/files/<md5>/<name>, as `publish` lays the files out\n"
    "  --key KEY_FILE        sign: FILE.sig beside --out FILE (needs --out; not with --handoff)\n"
    "  --serial N            the release's serial, 0 to 2^63-1; default with --key: seconds since 1970\n"
    "                        now, so it grows by itself\n"
    "  --expires TIME        when updaters stop accepting the manifest: 2027-02-05T12:00:00Z (ISO 8601\n"
    "                        with its offset) or days from now (45d); default with --key: 30 days\n"
    "Without --key, `serial` and `expires` are written only when given: every updater refuses an\n"
    "expired manifest, signed or not.\n"
    "\n"
    "A file that the updater could not install exactly is an error, never skipped: a name without\n"
    "a GBK form (the updater keeps paths as GBK text), a name Windows cannot hold, two paths that\n"
    "differ only in letter case, a link to a folder, an unreadable file.\n";

const char kUploadHelp[] =
    "velmora-release upload SITE DESTINATION [--rclone PROGRAM] [--public-key TEXT_OR_FILE] [--quiet]\n"
    "\n"
    "Copies the tree that `publish` laid out in SITE to DESTINATION, any place rclone reaches: an\n"
    "S3 or compatible bucket, Azure Blob, Google Cloud Storage, WebDAV, SFTP or a local folder\n"
    "(\"remote:bucket/path\" of rclone's configuration, or a connection string). Every manifest in\n"
    "SITE is verified first; a tree that `verify` refuses is not sent. The order keeps every client\n"
    "consistent: the stored files, chunk indexes and packs first, then the root records, then each\n"
    "channel's signature and manifest last. An object already at DESTINATION with the same size and\n"
    "digest is not sent again. Where the destination keeps it, the stored files get\n"
    "\"Cache-Control: public, max-age=31536000, immutable\" and the manifests, signatures and roots\n"
    "\"Cache-Control: no-cache\". Reports every object sent.\n"
    "\n"
    "  --rclone PROGRAM        the rclone program (default: rclone, found on the PATH)\n"
    "  --public-key KEY        also check the manifests' signatures with KEY (its text, or a file)\n"
    "\n"
    "With root records (download/2099/pro/root/1.json, ...) the tree is checked as `verify SITE` checks\n"
    "it: the root chain, and every channel's manifest signed by the newest root's release keys;\n"
    "--public-key is then not needed. Without them and without --public-key the signatures are not\n"
    "checked (a note says so). The destination's folders are made first.\n"
    "\n"
    "Exit status: 0 sent (or nothing to send), 1 a tree that does not verify or a transfer that\n"
    "failed (the manifests are then not sent), 2 a usage error.\n";

const char kPublishHelp[] =
    "velmora-release publish RELEASE_DIR OUT_DIR --base-url URL --run FILE [--key KEY_FILE]...\n"
    "                        [--serial N] [--expires TIME] [--channel NAME] [--rollout PERCENT]\n"
    "                        [--mirror URL]... [--health-seconds N]\n"
    "                        [--unsigned] [--quiet]\n"
    "\n"
    "Lays out the static tree of a release in OUT_DIR, ready for any web server, object store or\n"
    "CDN:\n"
    "  OUT_DIR/download/2099/pro/up.txt     the manifest (UTF-8), where the updater asks for it\n"
    "  OUT_DIR/download/2099/pro/up.txt.sig its signature, with --key\n"
    "  OUT_DIR/files/<md5>/<name>           every file under its own name, in a folder named by its\n"
    "                                       digest\n"
    "  OUT_DIR/files/<md5>/<name>.vmdi      beside every file of 64 KiB or more: its chunk index and\n"
    "  OUT_DIR/files/<md5>/<name>.vmdp      pack, listed in the entry's `delta` member, so that an\n"
    "                                       updater fetches only the chunks it lacks\n"
    "Serve OUT_DIR as the root of the manifest server, and give as URL the address at which OUT_DIR\n"
    "(or a copy of it) is reachable: every url is URL/files/<md5>/<name>, the name percent-encoded as\n"
    "UTF-8, which web servers decode to find the file. A file's name never changes\n"
    "meaning, so caches may keep the files forever; only up.txt and up.txt.sig must not be cached\n"
    "for long. Files of earlier releases in OUT_DIR are kept (an updater may still be fetching\n"
    "them); up.txt is written last and replaced in one step, right after its signature.\n"
    "\n"
    "  --key KEY_FILE    sign the manifest with the private key file of `velmora-release keygen`\n"
    "                    or a P-256 key in PEM made by openssl; more than once: one signature per\n"
    "                    key, each with its key id, for updaters built with a root record\n"
    "  --serial N        the release's serial, 0 to 2^63-1; default with --key: seconds since 1970\n"
    "                    now. A serial lower than the published manifest's is refused: updaters that\n"
    "                    took that one would refuse this one as older\n"
    "  --expires TIME    2027-02-05T12:00:00Z (ISO 8601 with its offset) or days from now (45d);\n"
    "                    default with --key: 30 days. Publish again before then: updaters refuse an\n"
    "                    expired manifest\n"
    "  --mirror URL      another address at which a copy of OUT_DIR is served (a CDN, a mirror);\n"
    "                    more than once for several. The manifest's `mirrors` lists URL and every\n"
    "                    mirror: each installation prefers one of them, and a file that one fails\n"
    "                    to serve is fetched from the next\n"
    "  --channel NAME    publish to the channel NAME: its manifest is download/2099/pro/NAME/up.txt\n"
    "                    (with \"channel\":\"NAME\" in it); the files are shared with every other\n"
    "                    channel. NAME: 1 to 16 lower-case letters and digits, a letter first;\n"
    "                    \"default\" is the default channel (download/2099/pro/up.txt)\n"
    "  --rollout PERCENT offer the release to PERCENT (0 to 100) of the installations: writes\n"
    "                    `rollout` and `rolloutSerial` (the serial; needs --key or --serial).\n"
    "                    `velmora-release rollout` changes the percentage later\n"
    "  --health-seconds N  (1 to 600) when the updater starts the product after installing the\n"
    "                    release, it watches it N seconds: a product that cannot start or crashes\n"
    "                    within them has the release rolled back (`healthSeconds`; 0: not watched)\n"
    "  --unsigned        publish without --key over a signed manifest: its signature is removed, and\n"
    "                    updaters built with a key or a root refuse the new manifest. Without it,\n"
    "                    publishing without --key over a signed manifest is refused\n"
    "Without --key, `serial` and `expires` are written only when given.\n";

const char kRolloutHelp[] =
    "velmora-release rollout SITE --percent PERCENT --key KEY_FILE... [--channel NAME] [--expires TIME]\n"
    "                        [--quiet]\n"
    "\n"
    "Changes the staged rollout of the release that `publish` wrote to SITE (its OUT_DIR): reads the\n"
    "channel's manifest, refuses it unless its signature is the key's, sets `rollout` to PERCENT,\n"
    "raises `serial` (one higher, or the seconds since 1970 now when that is higher), keeps\n"
    "`rolloutSerial` (the old serial when there was none, so every installation keeps its place),\n"
    "and writes the manifest and its signature again, each in one step. Every other byte of the\n"
    "manifest stays as it was. 100 offers the release to every installation; 0 halts it for every\n"
    "installation that has not taken it.\n"
    "\n"
    "  --percent PERCENT  0 to 100\n"
    "  --key KEY_FILE     the private key file the manifest was signed with (more than once: every\n"
    "                     key signs the new manifest)\n"
    "  --channel NAME     the channel's manifest, download/2099/pro/NAME/up.txt (default: the\n"
    "                     default channel's, download/2099/pro/up.txt)\n"
    "  --expires TIME     a new expiry: 2027-02-05T12:00:00Z or days from now (45d); default: the\n"
    "                     manifest's own, or 30 days from now when it has none or it has passed\n";

const char kVerifyHelp[] =
    "velmora-release verify MANIFEST DIR [--handoff] [--public-key TEXT_OR_FILE] [--base-url URL]\n"
    "                       [--quiet]\n"
    "\n"
    "Checks MANIFEST (UTF-8, or GBK with --handoff) with the updater's rules, every problem with its\n"
    "entry: paths that leave the run directory or lack the leading \"\\\", names Windows cannot hold\n"
    "or GBK cannot write, paths that are one file on Windows, digests that are not 32 hex\n"
    "digits, urls that are not http(s), a `run` that is not listed, a `rollout` that is not 0 to 100.\n"
    "Shows the serial, the expiry, the channel and the rollout. Then hashes every listed file\n"
    "below DIR as the updater does and lists the missing and differing ones.\n"
    "\n"
    "  --public-key KEY   also check MANIFEST.sig against the public key (its text, or a file)\n"
    "  --base-url URL     DIR is the tree served at URL (publish's OUT_DIR): each file is the one a\n"
    "                     web server answers its url with (the part below URL, percent-decoded as\n"
    "                     UTF-8); a url outside URL, with a bad escape, an encoded \"/\" or NUL, or a\n"
    "                     \"..\" that leaves DIR is a failure. Without it, files are found by `path`.\n"
    "                     The chunk index and pack of each entry with `delta` are found the same\n"
    "                     way and checked: sizes, SHA-256, and that the index decodes whole.\n"
    "Exit status 0 only when the manifest has no problem and every file matches.\n"
    "\n"
    "velmora-release verify SITE [--root FILE] [--quiet]\n"
    "\n"
    "Checks the published tree SITE (publish's OUT_DIR) as an updater built with a root record sees\n"
    "it: download/2099/pro/root/1.json, then each next version present, every one of its own\n"
    "version and signed (N.json.sig) by the threshold of the previous root's root keys and by that\n"
    "of its own; records beyond a gap, which no updater reaches; the newest root not expired; and\n"
    "every channel's manifest (up.txt, NAME/up.txt) signed by the newest root's release threshold.\n"
    "Root 1 is trusted because the builds carry it; its signatures (1.json.sig), which the key\n"
    "ceremony gathers, are counted all the same, and fewer than its root threshold is a problem. A\n"
    "folder in the place of a record or signature is a problem (a server answers it with 403).\n"
    "\n"
    "  --root FILE   the root record the builds carry: the walk starts from it, and root/1.json\n"
    "                must be the same bytes\n"
    "Exit status 0 only when there is no problem.\n";

const char kDiffHelp[] =
    "velmora-release diff OLD NEW [--handoff] [--quiet]\n"
    "\n"
    "Lists what an update from OLD to NEW downloads, file by file, with sizes and the total. OLD and\n"
    "NEW are release folders or manifests (UTF-8, or GBK with --handoff); a manifest written by\n"
    "velmora-release carries each file's size. Files only in OLD are left in place by the updater.\n"
    "When both are release folders, each file of 64 KiB or more is also estimated as fetched by\n"
    "delta (the chunk index and pack that publish lays beside it): what a client holding OLD\n"
    "fetches of the index and the pack, in how many requests, and the update's total that way.\n"
    "\n"
    "Exit status, as diff's: 0 the releases hold the same files, 1 they differ (a file to download\n"
    "or one only in OLD), 2 they could not be compared (a usage error, a folder or manifest that\n"
    "cannot be read).\n";

const char kPubkeyHelp[] =
    "velmora-release pubkey KEY_FILE [--quiet]\n"
    "\n"
    "Prints the public key of the private key in KEY_FILE (keygen's file, or a P-256 key in PEM made\n"
    "by openssl) as keygen prints it: the Base64 of its 64 bytes, which the build option\n"
    "VELMORA_MANIFEST_PUBLIC_KEY, --public-key, --root-key and --release-key take.\n";

const char kKeygenHelp[] =
    "velmora-release keygen --out KEY_FILE [--force] [--quiet]\n"
    "\n"
    "Makes an ECDSA P-256 key pair for signing manifests. The private key goes into KEY_FILE\n"
    "(readable by its owner alone where the system allows it; on Windows the folder's permissions\n"
    "apply): keep it secret, off the servers and out of version control. The public key is printed\n"
    "on standard output, as the updater's build takes it:\n"
    "  cmake -DVELMORA_MANIFEST_PUBLIC_KEY=<the printed text> ...\n"
    "\n"
    "  --out KEY_FILE   where the private key goes (its folder is made); an existing file is never\n"
    "                   replaced...\n"
    "  --force          ...unless this is given (the old key is then lost)\n";

const char kRootHelp[] =
    "velmora-release root init --out FILE --root-key KEY... --root-threshold N --release-key KEY...\n"
    "                          --release-threshold N [--expires TIME] [--key KEY_FILE]... [--quiet]\n"
    "velmora-release root rotate --previous FILE --out FILE (the same options)\n"
    "\n"
    "Writes a root record (docs/signing.md): `root init` root 1, the record the builds carry\n"
    "(VELMORA_ROOT_OF_TRUST); `root rotate` the next version after --previous. FILE's folder is made.\n"
    "Each --key signs it at once into FILE.sig; keys kept offline sign it elsewhere and are added with\n"
    "`sign FILE --signature DER_FILE --public-key KEY`. Says which thresholds are still unmet: root\n"
    "N+1 needs the threshold of root N's root keys and of its own.\n"
    "\n"
    "  --root-key KEY          a key that signs the next root (once per key)\n"
    "  --release-key KEY       a key that signs manifests (once per key)\n"
    "                          KEY: a public key's Base64 text, a file holding it, or a private key\n"
    "                          file (its public half is used)\n"
    "  --root-threshold N      how many root keys must sign the next root (1 to their number)\n"
    "  --release-threshold N   how many release keys must sign a manifest (1 to their number)\n"
    "  --expires TIME          2027-02-05T12:00:00Z or days from now (365d, the default)\n"
    "  --key KEY_FILE          sign with this private key file (more than once for several)\n"
    "\n"
    "Publish root N as SITE/download/2099/pro/root/N.json with N.json.sig beside it (root 1 too),\n"
    "then check the tree with `verify SITE --root 1.json`.\n";

const char kSignHelp[] =
    "velmora-release sign MANIFEST --key KEY_FILE... [--quiet]\n"
    "velmora-release sign FILE --signature DER_FILE --public-key KEY [--quiet]\n"
    "\n"
    "The second form adds a signature made elsewhere (openssl dgst -sha256 -sign, an HSM: ECDSA in\n"
    "DER) by the key whose public key is KEY (its Base64 text, or a file holding it such as\n"
    "root-a.pub) to FILE.sig, with its key id, keeping the other keys' lines; it is checked against\n"
    "FILE's bytes first. FILE may be a manifest or a root record; for root N it then says which\n"
    "thresholds are still unmet: root N's own root keys and, from N-1.json beside it, root N-1's.\n"
    "\n"
    "Signs the exact bytes of MANIFEST with the private key in KEY_FILE (the tool's own form or a\n"
    "P-256 key in PEM made by openssl) and writes the signature to\n"
    "MANIFEST.sig (through a temporary name, so it is never half written); with several --key, one\n"
    "line per key with its key id (docs/signing.md). Serve it beside the\n"
    "manifest: an updater built with the public key fetches both and refuses a manifest whose\n"
    "signature is missing or does not match. Any change to MANIFEST afterwards needs a new\n"
    "signature. The updater also needs `serial` and `expires` in the manifest (manifest --key and\n"
    "publish --key write them); a note says when they are missing.\n";

}  // namespace

std::string HelpText(const std::string& command) {
  if (command == "manifest") return kManifestHelp;
  if (command == "publish") return kPublishHelp;
  if (command == "rollout") return kRolloutHelp;
  if (command == "verify") return kVerifyHelp;
  if (command == "diff") return kDiffHelp;
  if (command == "keygen") return kKeygenHelp;
  if (command == "sign") return kSignHelp;
  if (command == "upload") return kUploadHelp;
  if (command == "root") return kRootHelp;
  if (command == "pubkey") return kPubkeyHelp;
  return kProgramHelp;
}

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine line;
  if (arguments.empty()) {
    line.error = "no command given";
    return line;
  }
  const std::string& first = arguments[0];
  if (first == "--help" || first == "-h" || first == "help") {
    line.command = "help";
    line.help = true;
    if (arguments.size() > 1) line.command = arguments[1];
    return line;
  }
  const CommandShape* shape = ShapeOf(first);
  if (shape == nullptr) {
    line.error = "unknown command \"" + first + "\"";
    return line;
  }
  line.command = first;

  bool optionsEnded = false;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded || argument.size() < 2 || argument.compare(0, 1, "-") != 0) {
      line.operands.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    if (argument == "--help" || argument == "-h") {
      line.help = true;
      return line;
    }
    if (argument.compare(0, 2, "--") != 0) {
      line.error = "unknown option \"" + argument + "\"";
      return line;
    }
    const std::size_t equals = argument.find('=');
    const std::string name = argument.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    if (shape->flags.count(name) != 0 && equals == std::string::npos) {
      line.flags.insert(name);
    } else if (shape->values.count(name) != 0) {
      if (equals != std::string::npos) {
        line.values[name] = argument.substr(equals + 1);
      } else if (i + 1 < arguments.size()) {
        line.values[name] = arguments[++i];
      } else {
        line.error = "option --" + name + " needs a value";
        return line;
      }
      line.repeated[name].push_back(line.values[name]);
    } else {
      line.error = "unknown option \"" + argument + "\" for " + line.command;
      return line;
    }
  }
  const std::size_t fewest = shape->fewestOperands != 0 ? shape->fewestOperands : shape->operands;
  if (line.operands.size() < fewest || line.operands.size() > shape->operands) {
    line.error = line.command + " takes " + (fewest != shape->operands ? std::to_string(fewest) + " or " : "") +
                 std::to_string(shape->operands) + " argument" +
                 (shape->operands == 1 ? "" : "s") + ", not " + std::to_string(line.operands.size());
    return line;
  }
  for (const std::string& required : shape->required) {
    const auto value = line.values.find(required);
    if (value == line.values.end() || value->second.empty()) {
      line.error = line.command + " needs --" + required;
      return line;
    }
  }
  return line;
}

}  // namespace velmora::release
