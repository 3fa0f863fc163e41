# Builds a manifest public key (DER or PEM, as the publisher's tool writes
# it) into a target's resources, as the RCDATA resource the library looks
# for. The key file is read by the resource compiler as it is.
function(gpc_embed_manifest_key target key_file)
  get_filename_component(key_path "${key_file}" ABSOLUTE)
  set(rc "${CMAKE_CURRENT_BINARY_DIR}/${target}_manifest_key.rc")
  file(WRITE "${rc}.in" "GPCMANIFESTKEY RCDATA \"@key_path@\"\n")
  configure_file("${rc}.in" "${rc}" @ONLY)
  set_source_files_properties("${rc}" PROPERTIES OBJECT_DEPENDS "${key_path}")
  target_sources(${target} PRIVATE "${rc}")
endfunction()
