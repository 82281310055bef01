# Builds the Windows packages: the MSI, its winget manifest and the ZIP. Run
# with cmake -P and:
#   VERSION, SOURCE_DIR, BINARY_DIR (holds sweepdirs.exe), OUT_DIR, RELEASE_URL
# The same inputs give the same bytes. Every time they hold is
# SOURCE_DATE_EPOCH (else the last commit's time): the files' times in the
# cabinet and the ZIP, and the MSI's summary times, which wixl and msibuild
# take from the clock (so they run under faketime). The MSI's codes are
# derived rather than drawn: the ProductCode from the UpgradeCode and the
# version, the package code from the version and every byte packed.
# wixl builds the package; msibuild then adds the PATH entry, which wixl's
# WiX dialect lacks, and the two actions that write and remove it.
get_filename_component(OUT_DIR "${OUT_DIR}" ABSOLUTE)  # wixl runs in a folder of its own
set(epoch "$ENV{SOURCE_DATE_EPOCH}")
if(epoch STREQUAL "")
  execute_process(COMMAND git -C "${SOURCE_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
endif()
set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
set(ENV{TZ} UTC)  # the cabinet and the ZIP hold local times
string(TIMESTAMP clock "%Y-%m-%d %H:%M:%S" UTC)
# -f: the time as given, even where this runs under a faked clock itself.
set(at_epoch faketime -f "${clock}")

set(msi "${OUT_DIR}/sweepdirs-${VERSION}-x64.msi")
# wixl takes the files by names relative to where it runs: gather them.
set(stage "${OUT_DIR}/msi-files")
set(files sweepdirs.exe README.md LICENSE)
file(REMOVE_RECURSE "${stage}")
file(COPY "${BINARY_DIR}/sweepdirs.exe" "${SOURCE_DIR}/README.md" "${SOURCE_DIR}/LICENSE"
     "${SOURCE_DIR}/packaging/sweepdirs.wxs" DESTINATION "${stage}"
     FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
execute_process(COMMAND touch -d "@${epoch}" ${files} WORKING_DIRECTORY "${stage}" COMMAND_ERROR_IS_FATAL ANY)

file(READ "${stage}/sweepdirs.wxs" wxs)
string(REGEX MATCH "UpgradeCode=\"([^\"]*)\"" _ "${wxs}")
string(UUID product_code NAMESPACE "${CMAKE_MATCH_1}" NAME "${VERSION}" TYPE SHA1 UPPER)
set(packed "${VERSION} ${RELEASE_URL}")
foreach(f IN LISTS files ITEMS sweepdirs.wxs)
  file(SHA256 "${stage}/${f}" digest)
  string(APPEND packed " ${digest}")
endforeach()
file(SHA256 "${SOURCE_DIR}/packaging/msi/Environment.idt" digest)
string(APPEND packed " ${digest}")
string(UUID package_code NAMESPACE "${product_code}" NAME "${packed}" TYPE SHA1 UPPER)

file(REMOVE "${msi}")
execute_process(
  COMMAND ${at_epoch} wixl -a x64 -D Version=${VERSION} -D Homepage=${RELEASE_URL}
          -D ProductCode=${product_code} -o "${msi}" sweepdirs.wxs
  WORKING_DIRECTORY "${stage}" COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${at_epoch} msibuild "${msi}" -i "${SOURCE_DIR}/packaging/msi/Environment.idt"
                COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND msiinfo export "${msi}" InstallExecuteSequence
                OUTPUT_VARIABLE sequence COMMAND_ERROR_IS_FATAL ANY)
# The standard places of the two actions, around RemoveFiles and InstallFiles.
string(APPEND sequence "RemoveEnvironmentStrings\t\t3300\nWriteEnvironmentStrings\t\t5200\n")
file(WRITE "${OUT_DIR}/InstallExecuteSequence.idt" "${sequence}")
execute_process(COMMAND ${at_epoch} msibuild "${msi}" -i "${OUT_DIR}/InstallExecuteSequence.idt"
                COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE "${OUT_DIR}/InstallExecuteSequence.idt")
# wixl draws the package code: put the derived one in its place, the
# other summary fields as they are.
execute_process(COMMAND msiinfo suminfo "${msi}" OUTPUT_VARIABLE summary COMMAND_ERROR_IS_FATAL ANY)
foreach(field Subject Author Template)
  string(REGEX MATCH "${field}: ([^\n]*)" _ "${summary}")
  set(${field} "${CMAKE_MATCH_1}")
endforeach()
execute_process(COMMAND ${at_epoch} msibuild "${msi}" -s "${Subject}" "${Author}" "${Template}" "{${package_code}}"
                COMMAND_ERROR_IS_FATAL ANY)
# osslsigncode lays out an MSI's storage its own way, and removing its
# signature gives back that layout, not wixl's. So the package takes that
# layout at once, through a signature made with a throwaway key and removed:
# a signed release then gives back these very bytes.
set(key "${OUT_DIR}/layout-key.pem")
execute_process(COMMAND openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1
                        -subj /CN=layout -keyout "${key}" -out "${key}.crt"
                OUTPUT_QUIET ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND osslsigncode sign -certs "${key}.crt" -key "${key}" -in "${msi}" -out "${msi}.signed"
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE "${msi}" "${key}" "${key}.crt")
execute_process(COMMAND osslsigncode remove-signature -in "${msi}.signed" -out "${msi}"
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE "${msi}.signed")

# The ZIP: one folder, the files in a fixed order, no owners (zip -X).
set(folder "sweepdirs-${VERSION}-windows-x64")
file(REMOVE_RECURSE "${stage}/${folder}")
file(MAKE_DIRECTORY "${stage}/${folder}")
foreach(f IN LISTS files)
  file(RENAME "${stage}/${f}" "${stage}/${folder}/${f}")
endforeach()
list(TRANSFORM files PREPEND "${folder}/")
file(REMOVE "${OUT_DIR}/${folder}.zip")
execute_process(COMMAND zip -q -X -D "${OUT_DIR}/${folder}.zip" ${files}
                WORKING_DIRECTORY "${stage}" COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE "${stage}")

# winget's multi-file manifest: version, installer, default locale.
execute_process(COMMAND msiinfo export "${msi}" Property OUTPUT_VARIABLE properties COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCH "ProductCode\t([^\r\n]*)" _ "${properties}")
set(product_code "${CMAKE_MATCH_1}")
file(SHA256 "${msi}" sha256)
string(TOUPPER "${sha256}" sha256)
set(id "SweepdirsDevelopers.Sweepdirs")
set(schema "ManifestVersion: 1.6.0")
set(dir "${OUT_DIR}/winget")
file(MAKE_DIRECTORY "${dir}")
file(WRITE "${dir}/${id}.yaml"
  "PackageIdentifier: ${id}\nPackageVersion: ${VERSION}\nDefaultLocale: en-US\nManifestType: version\n${schema}\n")
file(WRITE "${dir}/${id}.installer.yaml"
  "PackageIdentifier: ${id}\nPackageVersion: ${VERSION}\nInstallerType: msi\nScope: machine\n"
  "UpgradeBehavior: install\nInstallers:\n- Architecture: x64\n"
  "  InstallerUrl: ${RELEASE_URL}/sweepdirs-${VERSION}-x64.msi\n  InstallerSha256: ${sha256}\n"
  "  ProductCode: '${product_code}'\nManifestType: installer\n${schema}\n")
file(WRITE "${dir}/${id}.locale.en-US.yaml"
  "PackageIdentifier: ${id}\nPackageVersion: ${VERSION}\nPackageLocale: en-US\n"
  "Publisher: sweepdirs developers\nPackageName: sweepdirs\nLicense: MIT\n"
  "ShortDescription: Removes work areas and log files left behind by ended KEL processes\n"
  "Commands:\n- sweepdirs\nManifestType: defaultLocale\n${schema}\n")
