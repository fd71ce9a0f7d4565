include $(sort $(wildcard $(BR2_EXTERNAL_TAPLINE_PATH)/*/*.mk))
