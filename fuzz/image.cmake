# The image readers the image response serializer reaches, each on its own.
rig_fuzz(fuzz_gif_image SOURCES fuzz_gif_image.cpp DEPS platform_image)
rig_fuzz(fuzz_tiff_image SOURCES fuzz_tiff_image.cpp DEPS platform_image)
rig_fuzz(fuzz_bmp_image SOURCES fuzz_bmp_image.cpp DEPS platform_image)
rig_fuzz(fuzz_ico_image SOURCES fuzz_ico_image.cpp DEPS platform_image)
rig_fuzz(fuzz_xbm_image SOURCES fuzz_xbm_image.cpp DEPS platform_image)
