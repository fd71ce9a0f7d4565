################################################################################
#
# tapline
#
################################################################################

TAPLINE_VERSION = 0.1.0
# Built from the checkout this tree belongs to; a copy in Buildroot's own
# package/ sets a release tarball here instead, with a tapline.hash.
TAPLINE_SITE = $(BR2_EXTERNAL_TAPLINE_PATH)/../..
TAPLINE_SITE_METHOD = local
# The tree carries no licence of its own yet: all rights reserved, so
# legal-info keeps the sources out. Name the licence and its file here
# once the project has one.
TAPLINE_LICENSE = PROPRIETARY
TAPLINE_LICENSE_FILES = README.md
TAPLINE_REDISTRIBUTE = NO

# libftdi is found through pkg-config alone.
TAPLINE_DEPENDENCIES = host-pkgconf
TAPLINE_CONF_OPTS = -DBUILD_TESTING=OFF \
	-DTAPLINE_TCK_HZ=$(BR2_PACKAGE_TAPLINE_TCK_HZ)

ifeq ($(BR2_PACKAGE_LIBFTDI1),y)
TAPLINE_DEPENDENCIES += libftdi1
TAPLINE_CONF_OPTS += -DTAPLINE_LIBFTDI=1
else
TAPLINE_DEPENDENCIES += libftdi
TAPLINE_CONF_OPTS += -DTAPLINE_LIBFTDI=0
endif

# With mdev or a static /dev there is no one to read the rule.
ifeq ($(BR2_PACKAGE_HAS_UDEV),y)
TAPLINE_CONF_OPTS += -DTAPLINE_INSTALL_UDEV_RULE=ON
else
TAPLINE_CONF_OPTS += -DTAPLINE_INSTALL_UDEV_RULE=OFF
endif

$(eval $(cmake-package))
