# Builds the MSI and its winget manifest. Run with cmake -P and:
#   VERSION, SOURCE_DIR, BINARY_DIR (holds sweepdirs.exe), OUT_DIR, RELEASE_URL
# wixl builds the package; msibuild then adds the PATH entry, which wixl's
# WiX dialect lacks, and the two actions that write and remove it.
set(msi "${OUT_DIR}/sweepdirs-${VERSION}-x64.msi")
# wixl takes the files by names relative to where it runs: gather them.
set(stage "${OUT_DIR}/msi-files")
file(REMOVE_RECURSE "${stage}")
file(COPY "${BINARY_DIR}/sweepdirs.exe" "${SOURCE_DIR}/README.md" "${SOURCE_DIR}/LICENSE"
     "${SOURCE_DIR}/packaging/sweepdirs.wxs" DESTINATION "${stage}")
execute_process(
  COMMAND wixl -a x64 -D Version=${VERSION} -D Homepage=${RELEASE_URL} -o "${msi}" sweepdirs.wxs
  WORKING_DIRECTORY "${stage}" COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE_RECURSE "${stage}")
execute_process(COMMAND msibuild "${msi}" -i "${SOURCE_DIR}/packaging/msi/Environment.idt" COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND msiinfo export "${msi}" InstallExecuteSequence
                OUTPUT_VARIABLE sequence COMMAND_ERROR_IS_FATAL ANY)
# The standard places of the two actions, around RemoveFiles and InstallFiles.
string(APPEND sequence "RemoveEnvironmentStrings\t\t3300\nWriteEnvironmentStrings\t\t5200\n")
file(WRITE "${OUT_DIR}/InstallExecuteSequence.idt" "${sequence}")
execute_process(COMMAND msibuild "${msi}" -i "${OUT_DIR}/InstallExecuteSequence.idt" COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE "${OUT_DIR}/InstallExecuteSequence.idt")

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
